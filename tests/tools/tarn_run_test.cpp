// tarn-run, the operators' start script, running the real launcher: restarts after a
// crash with a growing pause, stops after a clean quit, and passes SIGTERM
// and SIGINT on to the launcher.
#include "launcher_spawn.h"
#include "monotonic.h"
#include "server_run.h"

#include <gtest/gtest.h>

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
                      const std::string& input)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        std::abort();
    Launch launch;
    launch.directory = dir.Path();
    launch.program = TARN_RUN_PATH;
    launch.arguments = {"-d", dir.Path(), "-pidfile", "server.pid"};
    launch.environment = environment;
    launch.environment.push_back({"TARN_LAUNCHER", TARN_LAUNCHER_PATH});
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
    const std::string retry = "ended with status 255; starting it again in 1 s";
    EXPECT_TRUE(WaitUntil([&] { return Contains(dir.Read("stdout.txt"), retry); }, 20000))
        << dir.Read("stdout.txt");
    kill(run.pid, SIGTERM);
    EXPECT_EQ(WaitForScript(run, 10, dir), 255);
    close(run.input);
}

void ExpectSignalPassedOn(int signalNumber)
{
    ServerDir dir;
    ScriptRun run = StartScript(dir, {}, "");
    ASSERT_TRUE(dir.WaitForLog("frame"));
    pid_t launcher = std::stoi(dir.Read("server.pid"));
    kill(run.pid, signalNumber);
    EXPECT_EQ(WaitForScript(run, 10, dir), 128 + signalNumber);
    close(run.input);
    EXPECT_EQ(kill(launcher, 0), -1);  // the launcher is gone too
    EXPECT_EQ(Matching(dir.Log(), "filesystem activate").size(), 1u);
    EXPECT_EQ(dir.Read("stdout.txt").find("starting it again"), std::string::npos);
}

TEST(StartScript, PassesSigtermOnAndEnds)
{
    ExpectSignalPassedOn(SIGTERM);
}

TEST(StartScript, PassesSigintOnAndEnds)
{
    ExpectSignalPassedOn(SIGINT);
}

}  // namespace
