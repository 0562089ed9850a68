// Stop requests through the real launcher, with a test engine that installs
// no signal handlers of its own: the engine is shut down cleanly, and the
// process ends by the signal that asked for the stop.
#include "monotonic.h"
#include "pty_job.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

namespace {

// What a stop must have done: one start, one Shutdown, the file system
// deactivated, and nothing after it.
void ExpectStoppedOnce(const ServerDir& dir)
{
    std::vector<std::string> log = dir.Log();
    EXPECT_EQ(Matching(log, "initialize").size(), 1u);
    EXPECT_EQ(Matching(log, "shutdown code=").size(), 1u);
    EXPECT_EQ(Last(log), "filesystem deactivate");
}

// A slow launcher (under valgrind, say) gets longer than a second.
int EndLimitMilliseconds()
{
    return std::getenv("TARN_TEST_WRAPPER") ? 10000 : 1000;
}

struct StopCase {
    int signalNumber;
    bool terminal;
};

class StopSignalTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopSignalTest, ShutsTheEngineDownAndEndsByTheSignal)
{
    const StopCase stop = GetParam();
    ServerDir dir;
    if (stop.terminal) {
        PtyJob job(dir, {});
        ASSERT_TRUE(dir.WaitForLog("initialize"));
        ASSERT_TRUE(job.WaitRaw());
        kill(job.Launcher(), stop.signalNumber);
        EXPECT_EQ(job.NextEvent(), "signaled " + std::to_string(stop.signalNumber));
        EXPECT_TRUE(job.WaitRestored(1000));
    } else {
        RunOptions options;
        options.stdinKind = Stdin::kPipeKeptOpen;
        RunningServer server(dir, {}, options);
        ASSERT_TRUE(dir.WaitForLog("initialize"));
        server.Signal(stop.signalNumber);
        EXPECT_EQ(server.Finish().signal, stop.signalNumber);
    }
    ExpectStoppedOnce(dir);
}

INSTANTIATE_TEST_SUITE_P(Launcher, StopSignalTest,
                         ::testing::Values(StopCase{SIGTERM, false}, StopCase{SIGINT, false},
                                           StopCase{SIGHUP, false}, StopCase{SIGTERM, true},
                                           StopCase{SIGINT, true}, StopCase{SIGHUP, true}));

TEST(StopSignalTest, ASecondOneWhileShutdownIsBusyEndsTheProcessAtOnce)
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.environment = {{"TARN_TEST_SHUTDOWN_MS", "60000"}};
    RunningServer server(dir, {}, options);
    ASSERT_TRUE(dir.WaitForLog("initialize"));
    server.Signal(SIGTERM);
    ASSERT_TRUE(dir.WaitForLog("shutdown code="));
    long long second = MonotonicNanoseconds();
    server.Signal(SIGTERM);
    RunResult result = server.Finish();
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_LT(MillisecondsSince(second), EndLimitMilliseconds());
    EXPECT_EQ(Last(dir.Log()), "shutdown code=3");
}

// The launcher's own process id, as its parent unshare sees it.
pid_t OnlyChild(pid_t parent)
{
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" +
                           std::to_string(parent) + "/children");
    pid_t child = 0;
    children >> child;
    return child;
}

TEST(StopSignalTest, EndsTheProcessAsPidOneOfANamespace)
{
    if (std::system("unshare --pid --fork --mount-proc true >/dev/null 2>&1") != 0)
        TARN_SKIP("the launcher as PID 1 of a namespace", "no PID namespaces: unshare --pid --fork --mount-proc failed");
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.wrapper = {"unshare", "--pid", "--fork", "--mount-proc"};
    RunningServer server(dir, {}, options);
    ASSERT_TRUE(dir.WaitForLog("initialize"));
    pid_t launcher = OnlyChild(server.Pid());
    ASSERT_GT(launcher, 0);
    long long start = MonotonicNanoseconds();
    kill(launcher, SIGTERM);
    RunResult result = server.Finish();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
    EXPECT_LT(MillisecondsSince(start), EndLimitMilliseconds());
    ExpectStoppedOnce(dir);
}

TEST(BrokenPipeTest, AStandardOutputWithoutReaderLeavesTheServerRunning)
{
    ServerDir dir;
    RunOptions options;
    options.input = "first\nsecond\nquit\n";
    options.stdoutReaderGone = true;
    RunResult result = dir.Run({}, options);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(Matching(dir.Log(), "submit").size(), 3u);
}

}  // namespace
