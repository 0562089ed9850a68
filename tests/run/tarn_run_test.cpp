// tarn-run, the operators' start script, running the real launcher: restarts after a
// crash with a growing pause or a hang seen by its watchdog, stops after a
// clean quit or a stop signal, and gives the terminal back after a kill.
#include "pty_job.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ScriptRun {
    pid_t pid = -1;
    int input = -1;  // the script's standard input, kept open until closed
};

ScriptRun StartScript(const ServerDir& dir, const std::vector<std::pair<std::string, std::string>>& environment,
                      const std::string& input, const char* watchSeconds = nullptr)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        std::abort();
    ScriptRun run;
    run.pid = fork();
    if (run.pid == 0) {
        close(pipeEnds[1]);
        dup2(pipeEnds[0], 0);
        int out = open(dir.File("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        setenv("TARN_LAUNCHER", TARN_LAUNCHER_PATH, 1);
        setenv("TARN_TEST_LOG", dir.File("events.log").c_str(), 1);
        // Under the address sanitizer a planted crash stays a real signal.
        setenv("ASAN_OPTIONS", "handle_segv=0", 1);
        // A notify socket that names nothing, tried after every frame, changes nothing.
        setenv("NOTIFY_SOCKET", "/nonexistent/notify", 1);
        setenv("WATCHDOG_USEC", "4", 1);
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        if (watchSeconds)
            execl(TARN_RUN_PATH, TARN_RUN_PATH, "-w", watchSeconds, "-d", dir.Path().c_str(), "-pidfile",
                  "server.pid", static_cast<char*>(nullptr));
        execl(TARN_RUN_PATH, TARN_RUN_PATH, "-d", dir.Path().c_str(), "-pidfile", "server.pid",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    run.input = pipeEnds[1];
    if (!input.empty() && write(run.input, input.data(), input.size()) < 0)
        std::abort();
    return run;
}

// The script's exit status, or -1 when it did not end in time (then the
// script and the launcher it runs are killed).
int WaitForScript(const ScriptRun& run, int seconds, const ServerDir& dir)
{
    for (int waited = 0; waited < seconds * 100; ++waited) {
        int status = 0;
        if (waitpid(run.pid, &status, WNOHANG) == run.pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(10000);
    }
    kill(run.pid, SIGKILL);
    waitpid(run.pid, nullptr, 0);
    std::string pid = dir.Read("server.pid");
    if (pid != "<missing>")
        kill(std::stoi(pid), SIGKILL);
    return -1;
}

bool WaitForLog(const ServerDir& dir, const std::string& prefix, size_t count)
{
    for (int waited = 0; waited < 1000; ++waited) {
        if (Matching(dir.Log(), prefix).size() >= count)
            return true;
        usleep(10000);
    }
    return false;
}

TEST(StartScript, RestartsAfterCrashesWithAGrowingPauseAndStopsAfterAQuit)
{
    ServerDir dir;
    ScriptRun run = StartScript(dir, {{"TARN_TEST_CRASH", "11"}}, "crash\ncrash\nquit\n");
    EXPECT_EQ(WaitForScript(run, 30, dir), 0);
    close(run.input);
    EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 3u);
    std::string out = dir.Read("stdout.txt");
    const std::string first = "tarn-run: the launcher was ended by signal 11; starting it again in 1 s\n";
    const std::string second = "tarn-run: the launcher was ended by signal 11; starting it again in 2 s\n";
    EXPECT_NE(out.find(first), std::string::npos) << out;
    EXPECT_GT(out.find(second), out.find(first)) << out;
}

TEST(StartScript, AStartupFailureIsRetriedToo)
{
    ServerDir dir("", "test_filesystem");
    ScriptRun run = StartScript(dir, {}, "");
    usleep(1500000);
    kill(run.pid, SIGTERM);
    EXPECT_EQ(WaitForScript(run, 10, dir), 255);
    close(run.input);
    EXPECT_NE(dir.Read("stdout.txt").find("ended with status 255; starting it again in 1 s"),
              std::string::npos)
        << dir.Read("stdout.txt");
}

// A stop signal, sent to tarn-run or to the launcher, ends both at once.
void ExpectStopSignalEndsBoth(int signalNumber, bool toLauncher = false)
{
    ServerDir dir;
    ScriptRun run = StartScript(dir, {}, "");
    ASSERT_TRUE(WaitForLog(dir, "frame", 1));
    pid_t launcher = std::stoi(dir.Read("server.pid"));
    kill(toLauncher ? launcher : run.pid, signalNumber);
    EXPECT_EQ(WaitForScript(run, 10, dir), 128 + signalNumber);
    close(run.input);
    EXPECT_EQ(kill(launcher, 0), -1);  // the launcher is gone too
    EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 1u);
    EXPECT_EQ(dir.Read("stdout.txt").find("starting it again"), std::string::npos);
}

TEST(StartScript, PassesSigtermOnAndEnds)
{
    ExpectStopSignalEndsBoth(SIGTERM);
}

TEST(StartScript, PassesSigintOnAndEnds)
{
    ExpectStopSignalEndsBoth(SIGINT);
}

TEST(StartScript, ALauncherEndedByAStopSignalIsNotRestarted)
{
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ExpectStopSignalEndsBoth(signalNumber, true);
}

TEST(StartScript, WithAWatchdogEndsAHungLauncherWithinTheLimitAndASecondButLetsAPingingOneRun)
{
    for (bool forever : {false, true}) {
        ServerDir dir;
        // One line per frame: the first frame completes before any hang. The
        // inherited socket names nothing: the pings must go to tarn-run's own.
        ScriptRun run = StartScript(dir, {{"TARN_TEST_HANG_MS", forever ? "0" : "500"}},
                                    forever ? "a\nhang\n" : "a\nhang\nhang\nhang\nhang\nhang\nquit\n", "2");
        if (forever) {
            EXPECT_TRUE(WaitForLog(dir, "submit before_frame=2", 1));
            auto hung = std::chrono::steady_clock::now();
            EXPECT_TRUE(WaitForLog(dir, "filesystem activate", 2));
            EXPECT_LT(std::chrono::steady_clock::now() - hung, std::chrono::seconds(4));  // 2 + 1 + the 1 s pause
            EXPECT_EQ(write(run.input, "quit\n", 5), 5);
        }
        EXPECT_EQ(WaitForScript(run, 20, dir), 0);
        close(run.input);
        EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), forever ? 2u : 1u);
        EXPECT_EQ(dir.Read("stdout.txt").find("ending it with SIGABRT") != std::string::npos, forever);
    }
}

TEST(StartScript, GivesTheTerminalBackAfterTheLauncherIsKilledAndStartsItAgain)
{
    ServerDir dir;
    PtyJob job(dir, {"-pidfile", "server.pid"}, {{{"TARN_LAUNCHER", TARN_LAUNCHER_PATH}}});
    ASSERT_TRUE(job.WaitRaw());
    kill(std::stoi(dir.Read("server.pid")), SIGKILL);
    EXPECT_TRUE(job.WaitRestored());
    EXPECT_TRUE(job.WaitRaw());
    job.Type("quit\n");
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

}  // namespace
