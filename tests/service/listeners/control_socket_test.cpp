// The control socket in process, on the test's own clock.
#include "control_client.h"
#include "service/listener.h"
#include "service/listeners/control_socket.h"
#include "stdout_capture.h"
#include "temp_workdir.h"

using ControlListenerTest = TempWorkdir;

TEST_F(ControlListenerTest, AClientThatSendsAndReadsNothingFor60sIsLetGoWithItsLineWhileOthersStay)
{
    constexpr int64_t kSecond = 1000000;
    IListener* control = Control_Open("control");  // relative: short wherever the directory is
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
