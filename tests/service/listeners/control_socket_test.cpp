// The control socket in process, on the test's own clock.
#include "control_client.h"
#include "output/sys_printf.h"
#include "service/listener.h"
#include "service/listeners/control_socket.h"
#include "stdout_capture.h"
#include "skip.h"
#include "temp_workdir.h"

#include <cstdlib>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using ControlListenerTest = TempWorkdir;

// One that read a part of its output within the 60 s stays, though nothing
// was sent to it since.
TEST_F(ControlListenerTest, AClientThatSendsAndReadsNothingFor60sIsLetGoWithItsLineWhileOthersStay)
{
    constexpr int64_t kSecond = 1000000;
    IListener* control = Control_Open("control", false);  // relative: short wherever the directory is
    ASSERT_NE(control, nullptr);
    auto poll = [control](int64_t now, int waitMilliseconds = 0) {  // as the hub polls
        pollfd polled[kMaxListenerDescriptors];
        int count = control->Watch(polled);
        ::poll(polled, static_cast<nfds_t>(count), waitMilliseconds);
        control->Serve(polled, count, now);
    };
    const std::string last = "line 999 " + std::string(90, '.') + "\n";
    ControlClient silent("control"), reader("control"), sender("control"), slow("control");
    poll(0, 5000);
    sender.Send("status\n");
    poll(0, 5000);
    StdoutCapture log;  // of the line, and of 100 KB that the reader reads all of, the slow client a part
    ASSERT_STREQ(control->TakeLine(), "status");
    for (int i = 0; i < 1000; ++i)
        Sys_Printf("line %03d %s\n", i, std::string(90, '.').c_str());
    log.Text();
    poll(0);
    ASSERT_TRUE(reader.ReadUntil(last));
    sender.Send("\n");
    poll(45 * kSecond, 5000);
    ASSERT_TRUE(slow.ReadUntil("line 000 "));
    poll(50 * kSecond);  // nothing to send: what the slow client read stays seen
    poll(60 * kSecond - 1);
    EXPECT_FALSE(silent.WaitClosedUnread(0));
    poll(60 * kSecond);
    EXPECT_TRUE(silent.ReadUntil("\nRefused: nothing sent or read for 60 seconds.\n"));
    EXPECT_FALSE(reader.WaitClosedUnread(0) || sender.WaitClosedUnread(0) || slow.WaitClosedUnread(0));
    EXPECT_EQ(Control_Counts().disconnected, 1);
    control->Close();
}

// A peer of another user, in the launcher's group or not, connects past the
// file's mode; the launcher's own check decides.
TEST_F(ControlListenerTest, TheLaunchersGroupAttachesOnlyWhenTheSocketIsOpenedForIt)
{
    if (geteuid() != 0)
        TARN_SKIP("another user's console", "no root to change the uid");
    constexpr uid_t kOther = 65534;
    chmod(".", 0711);
    struct Row { bool forGroup; bool member; bool admitted; };
    for (Row row : {Row{false, true, false}, Row{true, true, true}, Row{true, false, false}}) {
        SCOPED_TRACE(std::string(row.forGroup ? "for the group" : "owner only") + (row.member ? ", a member" : ""));
        IListener* control = Control_Open("control", row.forGroup);
        ASSERT_NE(control, nullptr);
        struct stat status {};
        ASSERT_EQ(stat("control", &status), 0);
        EXPECT_EQ(status.st_mode & 0777, row.forGroup ? 0660u : 0600u);
        chmod("control", 0666);
        ControlCounts before = Control_Counts();
        pid_t child = fork();
        if (child == 0) {
            gid_t group = getegid();
            if (setgroups(row.member ? 1 : 0, &group) != 0 || setgid(kOther) != 0 || setuid(kOther) != 0)
                _exit(2);
            ControlClient client("control");
            _exit(client.Connected() && client.WaitClosedUnread(20000) ? 0 : 3);
        }
        for (int i = 0; i < 200 && Control_Counts().attached == before.attached &&
                        Control_Counts().refused == before.refused; ++i) {
            pollfd polled[kMaxListenerDescriptors];
            int count = control->Watch(polled);
            ::poll(polled, static_cast<nfds_t>(count), 100);
            control->Serve(polled, count, 0);
        }
        EXPECT_EQ(Control_Counts().attached - before.attached, row.admitted ? 1 : 0);
        EXPECT_EQ(Control_Counts().refused - before.refused, row.admitted ? 0 : 1);
        control->Close();
        int ended = 0;
        waitpid(child, &ended, 0);
        EXPECT_EQ(WEXITSTATUS(ended), 0);
    }
}

namespace {

// Clients of the control socket, polled as the hub polls; Frame takes every
// queued line, as the engine's side does each frame.
struct Clients {
    IListener* control = Control_Open("control", false);
    ControlClient peers[2] = {ControlClient("control"), ControlClient("control")};
    Clients() { Poll(100); }
    ~Clients() { control->Close(); }
    void Poll(int waitMilliseconds = 0)
    {
        pollfd polled[kMaxListenerDescriptors];
        int count = control->Watch(polled);
        ::poll(polled, static_cast<nfds_t>(count), waitMilliseconds);
        control->Serve(polled, count, 0);
    }
    std::string Frame()
    {
        std::string lines;
        while (const char* line = control->TakeLine())
            lines += line + std::string("\n");
        return lines;
    }
};

}  // namespace

// A burst of one client's lines neither strands its own last lines nor
// holds another client's line back: lines in turn, and what is left of the
// burst at the next poll, with nothing new sent. Each over-long line gets
// its own refusal, where the client's output is between two lines.
TEST_F(ControlListenerTest, EveryLineReachesTheEngineInTurnAndEachOverlongOneIsRefusedBetweenLines)
{
    const std::string refusal = "Refused: line longer than 254 characters.\n";
    std::string burst, first, second;
    for (int i = 1; i <= 40; ++i)
        burst += "a" + std::to_string(i) + "\n";
    StdoutCapture log;  // of the lines taken
    Clients clients;
    Sys_Printf("partial");
    clients.Poll();
    clients.peers[1].ReadUntil("partial");
    clients.peers[0].Send(burst);
    clients.peers[1].Send("b1\n" + std::string(300, 'x') + "\n" + std::string(300, 'y') + "\n");
    clients.Poll();
    Sys_Printf(" end\n");
    first = clients.Frame();
    clients.Poll();
    second = clients.Frame();
    clients.peers[1].ReadUntil(refusal + refusal);
    log.Text();
    size_t b1 = first.find("b1\n");
    ASSERT_LT(b1, 4u) << "b1 waited behind a's burst: " << first;
    EXPECT_EQ(first.erase(b1, 3) + second, burst);
    const std::string& received = clients.peers[1].Received();
    EXPECT_NE(received.find("partial end\n"), std::string::npos);
    EXPECT_NE(received.find("\n" + refusal + refusal), std::string::npos) << received;
}

// A burst bigger than a client may fall behind costs each client that reads
// lines, announced with their count, never its place: the whole lines it
// got and those it was told it missed add up to the burst, and the metrics
// count those they missed.
TEST_F(ControlListenerTest, AReaderMissesLinesOfABigBurstButStaysAndIsToldHowMany)
{
    const std::string tail = " " + std::string(90, '.') + "\n";
    StdoutCapture log;
    Clients clients;
    const int64_t droppedBefore = Control_Counts().droppedLines;
    for (int i = 1; i <= 5000; ++i)
        Sys_Printf("burst %04d%s", i, tail.c_str());
    const std::string lastLine = "burst 5000" + tail;
    for (int i = 0; i < 1000 && !(clients.peers[0].ReadUntil(lastLine, 1) &&
                                  clients.peers[1].ReadUntil(lastLine, 1)); ++i)
        clients.Poll();
    log.Text();
    int64_t told = 0;
    for (ControlClient& peer : clients.peers) {
        EXPECT_FALSE(peer.WaitClosedUnread(0));
        const std::string& received = peer.Received();
        size_t notice = received.find("Output was blocked: ");
        ASSERT_NE(notice, std::string::npos);
        int whole = std::atoi(received.c_str() + notice + 20), last = 0;
        told += whole;
        for (size_t at = received.find("burst "); at != std::string::npos; at = received.find("burst ", at + 1)) {
            EXPECT_GT(std::atoi(received.c_str() + at + 6), last);
            last = std::atoi(received.c_str() + at + 6);
            whole += received.compare(at + 10, tail.size(), tail) == 0 ? 1 : 0;
        }
        EXPECT_EQ(last, 5000);
        EXPECT_EQ(whole, 5000);
    }
    EXPECT_EQ(Control_Counts().droppedLines - droppedBefore, told);
}

// The lines of a client that sends and closes before it is even admitted
// run all the same: the replay to it fails, its lines are read to its end.
TEST_F(ControlListenerTest, AClientThatSendsAndClosesAtOnceHasItsLinesRun)
{
    StdoutCapture log;
    Sys_Printf("for the replay\n");
    Clients clients;
    {
        ControlClient late("control");
        late.Send("sent then gone\n");
    }
    std::string lines;
    for (int i = 0; i < 3; ++i, clients.Poll(100))
        lines += clients.Frame();
    log.Text();
    EXPECT_EQ(lines, "sent then gone\n");
}
