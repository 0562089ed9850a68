// tarn-console against the real launcher: a line from a script, and an
// operator's session on a pseudo-terminal.
#include "control_client.h"
#include "file_text.h"
#include "launcher_spawn.h"
#include "monotonic.h"
#include "pty_job.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun RunTool(const ServerDir& dir, const std::vector<std::string>& arguments)
{
    Launch launch;
    launch.directory = dir.Path();
    launch.program = TARN_CONSOLE_PATH;
    launch.arguments = arguments;
    launch.output = "tool.txt";
    int status = 0;
    ToolRun run;
    if (WaitForExit(SpawnLauncher(launch), 20000, &status) && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = dir.Read("tool.txt");
    return run;
}

TEST(ConsoleToolTest, AScriptsLineGetsTheStatusLinesAndARefusalEndsWithOne)
{
    ServerDir dir(TARN_REFERENCE_ENGINE, TARN_REFERENCE_FILESYSTEM);
    std::string path = dir.File("control");
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    RunningServer server(dir, {"-controlsocket", path, "-port", "30161"}, options);
    ASSERT_TRUE(server.WaitForOutput("Listening on"));
    ToolRun status = RunTool(dir, {path, "-c", "status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out.rfind("address   127.0.0.1:30161", 0), 0u) << status.out;
    EXPECT_NE(status.out.find("\nframes    "), std::string::npos) << status.out;
    ToolRun tooLong = RunTool(dir, {path, "-c", std::string(255, 'x')});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_EQ(tooLong.out, "Refused: line longer than 254 characters.\n");
    ToolRun nobody = RunTool(dir, {dir.File("nobody"), "-c", "status"});
    EXPECT_EQ(nobody.status, 1);
    EXPECT_EQ(Count(nobody.out, "\n"), 1u) << nobody.out;
}

// Waits until the terminal has shown text, keeping all it showed.
bool Shows(PtyJob& job, std::string& shown, const std::string& text)
{
    return WaitUntil([&] { return (shown += job.ReadFor(20)).find(text) != std::string::npos; }, 10000);
}

TEST(ConsoleToolTest, AnOperatorTypesRecallsSeesOutputAboveTheLineAndDetachesWithCtrlD)
{
    ServerDir dir;
    std::string path = dir.File("control");
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    RunningServer server(dir, {"-controlsocket", path}, options);
    ASSERT_TRUE(server.WaitForOutput("Console initialized."));
    PtyOptions terminal;
    terminal.program = TARN_CONSOLE_PATH;
    terminal.outputOnTerminal = true;
    PtyJob job(dir, {path}, terminal);
    ASSERT_TRUE(job.WaitRaw());
    std::string shown;
    ASSERT_TRUE(Shows(job, shown, "Console initialized.\r\n"));
    job.Type("hello\n");
    ASSERT_TRUE(dir.WaitForLog("submit before_frame="));
    job.Type("abc");
    ASSERT_TRUE(Shows(job, shown, "abc"));
    ControlClient other(path);
    other.Send("ping\n");
    // The line being typed is erased, the output shown, the line drawn again.
    EXPECT_TRUE(Shows(job, shown, "\b \b\b \b\b \buid " + std::to_string(geteuid()) + "> ping\r\nping\r\nabc"));
    std::string attached = "Attached to " + path + ". Ctrl-D or Ctrl-C detaches and leaves the server running.\r\n";
    EXPECT_TRUE(shown.rfind(attached + "\r\nConsole initialized.\r\n", 0) == 0 && Count(shown, "initialized") == 1) << shown;
    job.Type("\x7f\x7f\x7f\x1b[A\n");
    EXPECT_TRUE(dir.WaitForLog("submit before_frame=", 3));
    std::vector<std::string> submits = Matching(dir.Log(), "submit ");
    EXPECT_NE(submits.back().find("text=[hello\\n]"), std::string::npos);
    job.Type("\x04");
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored());
    server.Type("quit\n");
    ExpectCleanEnd(server.Finish());
}

}  // namespace
