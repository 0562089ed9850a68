// Nobody outside the engine holds a frame: a reader of the output that
// stalls (Ctrl-S, a pipe nobody drains) or a writer that floods the input.
// Through the real launcher, with an engine that prints a numbered line
// every frame.
#include "monotonic.h"
#include "pty_job.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Timings from an emulated i386 leg, under valgrind or a sanitizer measure
// those as much as the launcher.
int TimeScale()
{
#ifdef __SANITIZE_ADDRESS__
    constexpr bool kSanitized = true;
#else
    constexpr bool kSanitized = false;
#endif
    bool emulated = sizeof(void*) == 4 && access("/proc/sys/fs/binfmt_misc/tarn-i386", F_OK) == 0;
    return emulated || kSanitized || std::getenv("TARN_TEST_WRAPPER") ? 10 : 1;
}

std::string LineBytes(int bytes)
{
    return std::to_string(bytes);
}

// What a reader got of the numbered lines: the last number, the notices of
// dropped lines, and the first fault: a line out of order, a line cut, or a
// gap that no notice accounts for exactly. Only the end may stop inside a
// line, where the process ended before its reader took the rest.
struct Lines {
    long last = 0;
    int notices = 0;
    std::string fault;
};

Lines CheckLines(const std::string& text, size_t lineLength)
{
    Lines seen;
    long owed = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line) && !in.eof();) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // the terminal's newline
        long number = 0;
        if (std::sscanf(line.c_str(), "Output was blocked: %ld lines dropped.", &number) == 1) {
            owed += number;
            ++seen.notices;
        } else if (std::sscanf(line.c_str(), "line %ld ", &number) == 1) {
            std::string padding(lineLength - std::min(lineLength, line.find(' ', 5) + 1),
                                static_cast<char>('0' + number % 10));
            if (number != seen.last + 1 + owed || line.size() != lineLength ||
                line.compare(line.size() - padding.size(), padding.size(), padding) != 0) {
                seen.fault = "after line " + std::to_string(seen.last) + " and " +
                             std::to_string(owed) + " dropped: " + line.substr(0, 24);
                return seen;
            }
            seen.last = number;
            owed = 0;
        }
    }
    return seen;
}

// Everything left in a pipe once its writers have gone.
std::string ReadToEnd(int fd)
{
    std::string text;
    char buffer[65536];
    for (ssize_t count; (count = read(fd, buffer, sizeof(buffer))) > 0;)
        text.append(buffer, count);
    return text;
}

std::string FrameEntry(long frame)
{
    return "frame " + std::to_string(frame) + " ";
}

// Standard output a pipe of the test's, whose read end it returns.
int OutputToPipe(RunOptions& options, std::vector<std::pair<std::string, std::string>> environment)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        std::abort();
    options.output = ends[1];
    options.environment = std::move(environment);
    return ends[0];
}

TEST(StalledOutputTest, APipeNobodyReadsHoldsNoFrameAndAStopStillShutsTheEngineDown)
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    int reader = OutputToPipe(options, {{"TARN_TEST_LINE_BYTES", LineBytes(200)}});
    RunningServer server(dir, {}, options);
    close(options.output);
    // About 5 s of frames: a megabyte of lines, far past the pipe and the queue.
    ASSERT_TRUE(dir.WaitForLog(FrameEntry(5000), 1, 60000));
    long long asked = MonotonicNanoseconds();
    server.Signal(SIGTERM);
    EXPECT_TRUE(dir.WaitForLog("shutdown", 1, 1000 * TimeScale()));
    RunResult result = server.Finish();
    EXPECT_LE(MillisecondsSince(asked), 2000 * TimeScale());
    EXPECT_EQ(result.signal, SIGTERM);
    Lines lines = CheckLines(ReadToEnd(reader), 199);
    close(reader);
    EXPECT_EQ(lines.fault, "");
    EXPECT_GT(lines.last, 0);
}

TEST(StalledOutputTest, AReaderThatPausesButKeepsUpGetsEveryLineOnceInOrder)
{
    ServerDir dir;
    RunOptions options;
    int reader = OutputToPipe(options, {{"TARN_TEST_LINE_BYTES", LineBytes(150)},
                                        {"TARN_TEST_FRAMES", "3000"},
                                        {"TARN_TEST_QUIET", "1"}});
    // A pipe of one page fills within a pause, so the launcher's queue takes
    // the rest, half a megabyte over the run; only a reader that stalled for
    // more than a second would let it overflow.
    fcntl(reader, F_SETPIPE_SZ, 4096);
    RunningServer server(dir, {}, options);
    close(options.output);
    // Pauses of 100 ms, each followed by 50 ms of reading what comes.
    std::string text;
    for (ssize_t count = 1; count != 0;) {
        timespec pause{0, 100 * 1000000};
        nanosleep(&pause, nullptr);
        char buffer[65536];
        long long reading = MonotonicNanoseconds();
        for (pollfd ready{reader, POLLIN, 0}; count != 0 && MillisecondsSince(reading) < 50 &&
                                              poll(&ready, 1, 20) > 0;)
            if ((count = read(reader, buffer, sizeof(buffer))) > 0)
                text.append(buffer, count);
    }
    close(reader);
    ExpectCleanEnd(server.Finish());
    Lines lines = CheckLines(text, 149);
    EXPECT_EQ(lines.fault, "");
    EXPECT_EQ(lines.notices, 0);
    EXPECT_EQ(lines.last, 3000);
}

// Ctrl-S stops the terminal's output (IXON stays on in raw mode); frames go
// on, and Ctrl-Q brings the lines back in order or with the notice of
// exactly what was dropped. The shell's description of the terminal is
// never left non-blocking.
TEST(StalledOutputTest, CtrlSOnTheTerminalHoldsNoFrameAndCtrlQBringsTheLinesBack)
{
    ServerDir dir;
    PtyOptions options;
    options.outputOnTerminal = true;
    options.environment = {{"TARN_TEST_LINE_BYTES", LineBytes(200)}};
    PtyJob job(dir, {}, options);
    ASSERT_TRUE(job.WaitRaw());
    std::string shown;
    ASSERT_TRUE(WaitUntil([&] { return (shown += job.ReadFor(20)).find("line 100 ") != shown.npos; },
                          20000));
    job.Type("\x13");
    long stoppedAt = static_cast<long>(Matching(dir.Log(), "frame ").size());
    // Some 2 s of frames behind a stopped terminal: more than the queue holds.
    EXPECT_TRUE(dir.WaitForLog(FrameEntry(stoppedAt + 2000), 1, 60000));
    EXPECT_EQ(job.SharedFlags() & O_NONBLOCK, 0);
    job.Type("\x11");
    shown += job.ReadFor(200);
    kill(job.Launcher(), SIGTERM);
    std::string event;
    while ((event = job.NextEvent(0)).empty())
        shown += job.ReadFor(20);
    shown += job.ReadFor(20);
    EXPECT_EQ(event, "signaled 15");
    Lines lines = CheckLines(shown, 199);
    EXPECT_EQ(lines.fault, "");
    EXPECT_GT(lines.last, 2000);
    EXPECT_GE(lines.notices, 1);
    EXPECT_EQ(job.SharedFlags() & O_NONBLOCK, 0);
}

// Newlines written as fast as a pipe takes them: each frame takes a
// bounded share, so frames keep their pace, a line after the flood still
// arrives, and a stop during a flood is acted on at once.
TEST(FloodedInputTest, FramesKeepTheirPaceAndAStopDuringTheFloodIsActedOnAtOnce)
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.environment = {{"TARN_TEST_LINE_BYTES", LineBytes(20)}, {"TARN_TEST_QUIET", "1"}};
    RunningServer server(dir, {}, options);
    ASSERT_TRUE(server.WaitForOutput("line 1 "));
    const std::string newlines(65536, '\n');
    for (long long start = MonotonicNanoseconds(); MillisecondsSince(start) < 5000;)
        server.Type(newlines);
    server.Type("flood over\n");
    EXPECT_TRUE(dir.WaitForLog("submit before_frame=", 1, 20000 * TimeScale()));
    int flooding[2];
    ASSERT_EQ(pipe(flooding), 0);
    pid_t writer = fork();
    if (writer == 0) {
        server.Type(newlines);
        char started = 1;
        if (write(flooding[1], &started, 1) != 1)
            _exit(1);
        for (;;)
            server.Type(newlines);
    }
    char started = 0;
    ASSERT_EQ(read(flooding[0], &started, 1), 1);
    long long asked = MonotonicNanoseconds();
    server.Signal(SIGTERM);
    RunResult result = server.Finish();
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    close(flooding[0]);
    close(flooding[1]);
    EXPECT_LE(MillisecondsSince(asked), 1000 * TimeScale());
    EXPECT_EQ(result.signal, SIGTERM);
    auto submits = Matching(dir.Log(), "submit ");
    ASSERT_EQ(submits.size(), 1u);
    EXPECT_NE(submits[0].find("text=[flood over\\n]"), std::string::npos);
    // A frame held by the flood lasts as long as the flood, 5 s; the bound
    // leaves room for a loaded machine. The benchmark measures the intervals.
    auto longest = Matching(dir.Log(), "longest_interval_us=");
    ASSERT_EQ(longest.size(), 1u);
    EXPECT_LE(std::stol(longest[0].substr(20)), 1000000L * TimeScale());
}

}  // namespace
