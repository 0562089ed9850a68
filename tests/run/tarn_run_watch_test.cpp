// tarn-run in the harness's place of the launcher: its watchdog, the stops
// it does not restart, and the terminal it gives back.
#include "notify_listener.h"
#include "pty_job.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/time.h>
#include <unistd.h>

namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;
const Environment kLauncher{{"TARN_LAUNCHER", TARN_SERVER_LAUNCHER_PATH}};

// Ends the launcher that a failed test may leave behind with tarn-run.
struct GroupGuard {
    pid_t group;
    ~GroupGuard() { kill(-group, SIGKILL); }
};

RunOptions Options(Environment more, const std::string& input = "")
{
    RunOptions options;
    options.newSession = true;  // tarn-run leads a process group of its own
    options.input = input;
    options.environment = kLauncher;
    options.environment.insert(options.environment.end(), more.begin(), more.end());
    return options;
}

long long WallMicroseconds()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return now.tv_sec * 1000000LL + now.tv_usec;
}

TEST(StartScriptWatchdog, EndsAHungLauncherWithinTheLimitAndASecondAndLetsAPingingOneRun)
{
    struct Case { const char* hangMilliseconds; const char* input; bool hangs; };
    // One line per frame: the first frame completes, and the launcher is ready, before any hang.
    for (Case c : {Case{"500", "a\nhang\nhang\nhang\nhang\nhang\nquit\n", false},
                   Case{"0", "a\nhang\n", true}}) {
        ServerDir dir;
        NotifyListener inherited("@tarn-test-inherited-" + std::to_string(getpid()));
        RunningServer server(dir, {"-w", "2"}, Options({{"TARN_TEST_HANG_MS", c.hangMilliseconds},
            {"NOTIFY_SOCKET", inherited.Address()}, {"TARN_TEST_QUIET", "1"}}, c.input));
        GroupGuard guard{server.Pid()};
        if (c.hangs) {
            ASSERT_TRUE(server.WaitForOutput("the launcher was ended by signal 6; starting it again in 1 s"));
            std::string begins = First(dir.Log(), "hang begins at=");
            EXPECT_LT(WallMicroseconds() - std::stoll(begins.substr(15)), 3000000);
            ASSERT_TRUE(server.WaitForOutput("Console initialized.", 2));
            server.Type("quit\n");
        }
        RunResult result = server.Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.out;
        EXPECT_EQ(result.out.find("ending it with SIGABRT") != std::string::npos, c.hangs) << result.out;
        EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), c.hangs ? 2u : 1u);
        // One watchdog at a time: tarn-run's own replaced the inherited one.
        EXPECT_EQ(inherited.Next(0).text, "");
    }
}

TEST(StartScriptWatchdog, WithoutItTheLauncherKeepsTheNotifySocketItInherits)
{
    ServerDir dir;
    NotifyListener inherited(dir.File("notify"));
    RunResult result = dir.Run({}, Options({{"NOTIFY_SOCKET", inherited.Address()}}, "a\nquit\n"));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(HasLine(inherited.Next().text, "READY=1"));
}

TEST(StartScript, ALauncherEndedByAStopSignalIsNotRestarted)
{
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ServerDir dir;
        RunningServer server(dir, {"-pidfile", "server.pid"}, Options({}));
        GroupGuard guard{server.Pid()};
        ASSERT_TRUE(server.WaitForOutput("Console initialized."));
        kill(std::stoi(dir.Read("server.pid")), signalNumber);
        RunResult result = server.Finish();
        EXPECT_EQ(result.exitStatus, 128 + signalNumber) << result.out;
        EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 1u);
    }
}

TEST(StartScript, GivesTheTerminalBackAfterTheLauncherIsKilledAndStartsItAgain)
{
    ServerDir dir;
    PtyJob job(dir, {"-pidfile", "server.pid"}, {kLauncher});
    GroupGuard guard{job.Launcher()};
    ASSERT_TRUE(job.WaitRaw());
    kill(std::stoi(dir.Read("server.pid")), SIGKILL);
    EXPECT_TRUE(job.WaitRestored());
    EXPECT_TRUE(job.WaitRaw());
    job.Type("quit\n");
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

}  // namespace
