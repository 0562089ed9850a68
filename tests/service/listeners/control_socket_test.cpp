// The control socket in process, on the test's own clock.
#include "control_client.h"
#include "service/listener.h"
#include "service/listeners/control_socket.h"
#include "stdout_capture.h"
#include "skip.h"
#include "temp_workdir.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using ControlListenerTest = TempWorkdir;

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
    ControlClient silent("control"), reader("control"), sender("control");
    poll(0, 5000);
    sender.Send("status\n");
    poll(0, 5000);
    StdoutCapture log;  // of the line: output that only the reader reads
    ASSERT_STREQ(control->TakeLine(), "status");
    log.Text();
    poll(0);
    ASSERT_TRUE(reader.ReadUntil("> status\n"));
    sender.Send("\n");
    poll(45 * kSecond, 5000);
    poll(60 * kSecond - 1);
    EXPECT_FALSE(silent.WaitClosedUnread(0));
    poll(60 * kSecond);
    EXPECT_TRUE(silent.ReadUntil("\nRefused: nothing sent or read for 60 seconds.\n"));
    EXPECT_FALSE(reader.WaitClosedUnread(0) || sender.WaitClosedUnread(0));
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
