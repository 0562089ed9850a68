// tarn-console against the real launcher: a line from a script, and an
// operator's session on a pseudo-terminal.
#include "control_client.h"
#include "file_text.h"
#include "launcher_spawn.h"
#include "monotonic.h"
#include "pty_job.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

pid_t StartTool(const ServerDir& dir, const std::vector<std::string>& arguments, const std::string& output)
{
    Launch launch;
    launch.directory = dir.Path();
    launch.program = TARN_CONSOLE_PATH;
    launch.arguments = arguments;
    launch.output = output;
    return SpawnLauncher(launch);
}

// The tool's exit status, or -1 when it did not end in time (then it is killed).
int ToolStatus(pid_t tool, int timeoutMilliseconds)
{
    int status = 0;
    bool ended = WaitForExit(tool, std::max(0, timeoutMilliseconds), &status) && WIFEXITED(status);
    return ended ? WEXITSTATUS(status) : -1;
}

ToolRun RunTool(const ServerDir& dir, const std::vector<std::string>& arguments)
{
    ToolRun run;
    run.status = ToolStatus(StartTool(dir, arguments, "tool.txt"), 20000);
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

// A server that is not ours, listening at path.
int Listen(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    EXPECT_TRUE(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(fd, 1) == 0);
    return fd;
}

// Its first client: after the line the client sends (when waitForLine),
// sends it text and hangs up.
void Answer(int listener, bool waitForLine, const std::string& text)
{
    pollfd ready{listener, POLLIN, 0};
    int client = poll(&ready, 1, 10000) == 1 ? accept(listener, nullptr, nullptr) : -1;
    char byte = 0;
    while (waitForLine && read(client, &byte, 1) == 1 && byte != '\n') {
    }
    EXPECT_EQ(write(client, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(client);
}

// Escape sequences (a title, the clipboard, the screen's erase and the
// alternate screen, an 8-bit CSI), C1 and broken UTF-8, a backslash, and a
// NUL with text after it reach the terminal shown, not obeyed; tab and
// valid UTF-8 stay as they are.
const std::string kHostile = std::string("\x1b]0;owned\x07|\x1b]52;c;aGk=\x07|\x1b[2J\x1b[?1049h|\x9b" "1m|") +
                             "\xc2\x9b|\xc3\x28|\\|\t\xc3\xa9\xe6\x97\xa5\xf0\x9f\x99\x82|" + std::string("\0tail", 5);
const std::string kShown = "\\x1b]0;owned\\x07|\\x1b]52;c;aGk=\\x07|\\x1b[2J\\x1b[?1049h|\\x9b1m|\\xc2\\x9b|\\xc3(|"
                           "\\\\|\t\xc3\xa9\xe6\x97\xa5\xf0\x9f\x99\x82|\\x00tail";

TEST(ConsoleToolTest, AServersEscapeSequencesAndBrokenTextAreShownNotObeyed)
{
    ServerDir dir;
    int listener = Listen(dir.File("control"));
    pid_t script = StartTool(dir, {dir.File("control"), "-c", "status"}, "tool.txt");
    Answer(listener, true, "uid " + std::to_string(geteuid()) + "> status\n" + kHostile + "\n");
    EXPECT_EQ(ToolStatus(script, 10000), 0);
    EXPECT_EQ(dir.Read("tool.txt"), kShown + "\n");
    PtyOptions terminal;
    terminal.program = TARN_CONSOLE_PATH;
    terminal.outputOnTerminal = true;
    PtyJob job(dir, {dir.File("control")}, terminal);
    Answer(listener, false, kHostile + "\n");
    std::string shown;
    EXPECT_TRUE(Shows(job, shown, kShown + "\r\n") && shown.find('\x1b') == std::string::npos) << shown;
    EXPECT_EQ(job.NextEvent(), "exited 0");
    close(listener);
}

// A health check's scripts against a stopped server (a hung frame) each end
// with 1 and one line within the 5 s, also once abandoned connections fill
// its listen queue (16).
TEST(ConsoleToolTest, EveryScriptsLineEndsWithinItsBudgetAgainstAHungServer)
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    RunningServer server(dir, {"-controlsocket", dir.File("control")}, options);
    ASSERT_TRUE(server.WaitForOutput("Console initialized."));
    server.Signal(SIGSTOP);
    std::vector<pid_t> scripts;
    for (int i = 0; i < 24; ++i)
        scripts.push_back(StartTool(dir, {dir.File("control"), "-c", "status"}, "script" + std::to_string(i)));
    long long start = MonotonicNanoseconds();
    for (size_t i = 0; i < scripts.size(); ++i) {
        EXPECT_EQ(ToolStatus(scripts[i], 8000 - MillisecondsSince(start)), 1) << i;
        EXPECT_EQ(Count(dir.Read("script" + std::to_string(i)), "\n"), 1u) << i;
    }
    server.Signal(SIGCONT);
    server.Type("quit\n");
    ExpectCleanEnd(server.Finish());
}

}  // namespace
