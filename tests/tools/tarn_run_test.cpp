// tarn-run, the operators' start script, running the real launcher: restarts after a
// crash with a growing pause or a hang seen by its watchdog, stops after a
// clean quit or a stop signal, and gives the terminal back after a kill.
#include "file_text.h"
#include "launcher_spawn.h"
#include "monotonic.h"
#include "pty_job.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ScriptRun {
    pid_t pid = -1;
    int input = -1;  // the script's standard input, kept open until closed
};

ScriptRun StartScript(const ServerDir& dir, const std::vector<std::pair<std::string, std::string>>& environment,
                      const std::string& input, const char* watchSeconds = nullptr,
                      const char* crashLimit = nullptr)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        std::abort();
    Launch launch;
    launch.directory = dir.Path();
    launch.program = TARN_RUN_PATH;
    launch.arguments = {"-d", dir.Path(), "-pidfile", "server.pid"};
    if (watchSeconds)
        launch.arguments.insert(launch.arguments.begin(), {"-w", watchSeconds});
    if (crashLimit)
        launch.arguments.insert(launch.arguments.begin(), {"-l", crashLimit});
    // A notify socket that names nothing, tried after every frame, changes nothing.
    launch.environment = {{"NOTIFY_SOCKET", "/nonexistent/notify"}, {"WATCHDOG_USEC", "4"},
                          {"TARN_LAUNCHER", TARN_LAUNCHER_PATH}};
    launch.environment.insert(launch.environment.end(), environment.begin(), environment.end());
    launch.input = pipeEnds[0];
    launch.errors = launch.output;
    ScriptRun run;
    run.pid = SpawnLauncher(launch);
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
    int status = 0;
    if (WaitForExit(run.pid, seconds * 1000, &status))
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::string pid = dir.Read("server.pid");
    if (pid != "<missing>")
        kill(std::stoi(pid), SIGKILL);
    return -1;
}

TEST(StartScriptTest, RestartsAfterCrashesWithAGrowingPauseAndStopsAfterAQuit)
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

// Each restart names the newest report; the third crash within 10 s ends
// the loop, naming the last one.
TEST(StartScriptTest, ACrashLoopStopsAtItsLimitAndNamesTheLastReport)
{
    ServerDir dir;
    ScriptRun run = StartScript(dir, {{"TARN_TEST_CRASH_AT_START", "1"}}, "", nullptr, "3/10");
    EXPECT_EQ(WaitForScript(run, 30, dir), 1);
    close(run.input);
    std::string out = dir.Read("stdout.txt");
    EXPECT_EQ(Matching(dir.Log(), "initialize").size(), 3u);
    EXPECT_EQ(Count(out, "tarn-run: crash report errorlogs/errorlog0000"), 3u) << out;
    EXPECT_NE(out.find("tarn-run: 3 crashes within 10 s: the launcher is not started again; the last report "
                       "is errorlogs/errorlog00003.txt\n"),
              std::string::npos) << out;
}

TEST(StartScriptTest, AStartupFailureIsRetriedToo)
{
    ServerDir dir("", "test_filesystem");
    ScriptRun run = StartScript(dir, {}, "");
    const std::string retry = "ended with status 255; starting it again in 1 s";
    EXPECT_TRUE(WaitUntil([&] { return Contains(dir.Read("stdout.txt"), retry); }, 20000))
        << dir.Read("stdout.txt");
    kill(run.pid, SIGTERM);
    EXPECT_EQ(WaitForScript(run, 10, dir), 255);
    close(run.input);
}

// A switch of tarn-run's that takes a value never takes the next switch as it.
TEST(StartScriptTest, ASwitchFollowedByAnotherSwitchGetsTheUsageLine)
{
    const std::vector<std::vector<std::string>> kArguments = {
        {"-d", "-port", "1"}, {"-w", "-l", "3/10"}, {"-l", "-d", "."}, {"-d", ".", "-w", "-port"}};
    for (const std::vector<std::string>& arguments : kArguments) {
        ServerDir dir;
        Launch launch;
        launch.directory = dir.Path();
        launch.program = TARN_RUN_PATH;
        launch.arguments = arguments;
        int status = 0;
        ASSERT_TRUE(WaitForExit(SpawnLauncher(launch), 10000, &status));
        std::string out = dir.Read("stdout.txt");
        EXPECT_TRUE(WEXITSTATUS(status) == 2 && out.rfind("usage: tarn-run ", 0) == 0 && Count(out, "\n") == 1) << out;
    }
}

// A start that fails fails again: it counts toward the limit as a crash does.
TEST(StartScriptTest, FailedStartsStopAtTheCrashLimit)
{
    for (bool runnable : {true, false}) {
        ServerDir dir("", "test_filesystem");  // no engine: the start fails with 255
        std::string launcher = runnable ? TARN_LAUNCHER_PATH : dir.File("no-launcher");
        ScriptRun run = StartScript(dir, {{"TARN_LAUNCHER", launcher}}, "", nullptr, "2/30");
        EXPECT_EQ(WaitForScript(run, 10, dir), 1) << runnable;
        close(run.input);
        std::string out = dir.Read("stdout.txt");
        EXPECT_EQ(Count(out, "ended with status " + std::string(runnable ? "255" : "127")), 1u) << out;
        EXPECT_TRUE(Contains(out, "tarn-run: 2 failed starts within 30 s: the launcher is not started again\n")) << out;
    }
}

// A stop signal, sent to tarn-run or to the launcher, ends both at once.
void ExpectStopSignalEndsBoth(int signalNumber, bool toLauncher = false)
{
    ServerDir dir;
    ScriptRun run = StartScript(dir, {}, "");
    ASSERT_TRUE(dir.WaitForLog("frame"));
    pid_t launcher = std::stoi(dir.Read("server.pid"));
    kill(toLauncher ? launcher : run.pid, signalNumber);
    EXPECT_EQ(WaitForScript(run, 10, dir), 128 + signalNumber);
    close(run.input);
    EXPECT_EQ(kill(launcher, 0), -1);  // the launcher is gone too
    EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 1u);
    EXPECT_EQ(dir.Read("stdout.txt").find("starting it again"), std::string::npos);
}

TEST(StartScriptTest, PassesSigtermOnAndEnds)
{
    ExpectStopSignalEndsBoth(SIGTERM);
}

TEST(StartScriptTest, PassesSigintOnAndEnds)
{
    ExpectStopSignalEndsBoth(SIGINT);
}

TEST(StartScriptTest, ALauncherEndedByAStopSignalIsNotRestarted)
{
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ExpectStopSignalEndsBoth(signalNumber, true);
}

TEST(StartScriptTest, WithAWatchdogEndsAHungLauncherWithinTheLimitAndASecondButLetsAPingingOneRun)
{
    for (bool forever : {false, true}) {
        ServerDir dir;
        // One line per frame: the first frame completes before any hang. The
        // inherited socket names nothing: the pings must go to tarn-run's own.
        ScriptRun run = StartScript(dir, {{"TARN_TEST_HANG_MS", forever ? "0" : "500"}},
                                    forever ? "a\nhang\n" : "a\nhang\nhang\nhang\nhang\nhang\nquit\n", "2");
        if (forever) {
            EXPECT_TRUE(dir.WaitForLog("submit before_frame=2"));
            // The limit and a second; the start after it may be slow, under emulation most of all.
            auto aborted = [&] { return dir.Read("stdout.txt").find("ending it with SIGABRT") != std::string::npos; };
            EXPECT_TRUE(WaitUntil(aborted, 3000));
            EXPECT_TRUE(dir.WaitForLog("filesystem activate", 2));
            EXPECT_EQ(write(run.input, "quit\n", 5), 5);
        }
        EXPECT_EQ(WaitForScript(run, 20, dir), 0);
        close(run.input);
        EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), forever ? 2u : 1u);
        EXPECT_EQ(dir.Read("stdout.txt").find("ending it with SIGABRT") != std::string::npos, forever);
    }
}

// Pings for 3 s (longer than the watchdog's limit), as another user, the
// NOTIFY_SOCKET that launcher started with; ends with 0 when none arrived.
[[noreturn]] void Flood(pid_t launcher, uid_t uid, gid_t gid)
{
    std::string environment = ReadFile("/proc/" + std::to_string(launcher) + "/environ");
    size_t at = environment.find("NOTIFY_SOCKET="), from = at + 14;
    std::string address = at == std::string::npos ? "" : environment.substr(from, environment.find('\0', from) - from);
    if (address.empty() || setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        _exit(2);
    sockaddr_un to{AF_UNIX, {}};
    address.copy(to.sun_path, sizeof(to.sun_path) - 1);
    to.sun_path[0] = address[0] == '@' ? '\0' : address[0];
    socklen_t length = offsetof(sockaddr_un, sun_path) + address.size() + (address[0] != '@');
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0), arrived = 0;
    for (long long start = MonotonicNanoseconds(); MillisecondsSince(start) < 3000;)
        arrived |= sendto(fd, "WATCHDOG=1\n", 11, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), length) == 11;
    _exit(arrived);
}

// Even a user of the server's group is kept out.
TEST(StartScriptTest, AFloodFromAnotherUserNeitherReachesTheWatchdogNorEndsTheLauncher)
{
    if (getuid() != 0)
        TARN_SKIP("sending as another user", "no root to change the uid");
    for (uid_t uid : {65534, 30100}) {
        ServerDir dir;
        ScriptRun run = StartScript(dir, {}, "", "2");
        ASSERT_TRUE(dir.WaitForLog("frame"));
        pid_t flooder = fork();
        if (flooder == 0)
            Flood(std::stoi(dir.Read("server.pid")), uid, uid == 65534 ? 65534 : getgid());
        int status = 0;
        waitpid(flooder, &status, 0);
        EXPECT_EQ(status, 0) << uid;
        EXPECT_EQ(write(run.input, "quit\n", 5), 5);
        EXPECT_EQ(WaitForScript(run, 20, dir), 0);
        close(run.input);
        EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 1u) << uid;
    }
}

TEST(StartScriptTest, GivesTheTerminalBackAfterTheLauncherIsKilledAndStartsItAgain)
{
    ServerDir dir;
    PtyOptions options;
    options.environment = {{"TARN_LAUNCHER", TARN_LAUNCHER_PATH}};
    options.program = TARN_RUN_PATH;
    PtyJob job(dir, {"-pidfile", "server.pid"}, options);
    ASSERT_TRUE(job.WaitRaw());
    kill(std::stoi(dir.Read("server.pid")), SIGKILL);
    EXPECT_TRUE(job.WaitRestored());
    EXPECT_TRUE(job.WaitRaw());
    job.Type("quit\n");
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

}  // namespace
