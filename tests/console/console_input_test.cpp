// The terminal console's input path with standard input from a pipe: the
// key decoder, lines handed out one at a time, and the width it reports.
#include "console/text_console_unix.h"

#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <string>
#include <unistd.h>

namespace {

const std::string kEsc = "\x1b";

class ConsoleInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedStdin_ = dup(0);
        ASSERT_EQ(pipe(pipe_), 0);
        dup2(pipe_[0], 0);
        close(pipe_[0]);
        StdoutCapture capture;
        ASSERT_TRUE(console_.Init(nullptr));
        EXPECT_EQ(capture.Text(), "\nConsole initialized.\n");
    }

    void TearDown() override
    {
        if (pipe_[1] >= 0)
            close(pipe_[1]);
        dup2(savedStdin_, 0);
        close(savedStdin_);
    }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(write(pipe_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // One poll: the line it finished, or "<none>".
    std::string Poll()
    {
        const char* line = console_.GetLine();
        return line ? line : "<none>";
    }

    // Sends bytes as one burst and polls once.
    std::string Burst(const std::string& bytes)
    {
        Send(bytes);
        return Poll();
    }

    void CloseInput()
    {
        close(pipe_[1]);
        pipe_[1] = -1;
    }

    CTextConsoleUnix console_;
    int pipe_[2] = {-1, -1};
    int savedStdin_ = -1;
};

TEST_F(ConsoleInputTest, NothingPendingGivesNoLine)
{
    EXPECT_EQ(console_.kbhit(), 0);
    EXPECT_EQ(Poll(), "<none>");
    Send("a");
    EXPECT_EQ(console_.kbhit(), 1);
}

TEST_F(ConsoleInputTest, OneCallHandsOutOneLineAndLeavesTheRestPending)
{
    EXPECT_EQ(Burst("ab\ncd"), "ab");
    EXPECT_EQ(Poll(), "<none>");
    EXPECT_EQ(Burst("\n"), "cd");
}

TEST_F(ConsoleInputTest, EmptyLinesAreNotHandedOut)
{
    EXPECT_EQ(Burst("\n\n\nx\n"), "x");
}

TEST_F(ConsoleInputTest, CursorKeysInAllThreeForms)
{
    Burst("one\n");
    EXPECT_EQ(Burst(kEsc + "[A\n"), "one");
    EXPECT_EQ(Burst("ab" + kEsc + "[D" + "X\n"), "aXb");
    EXPECT_EQ(Burst("ab" + kEsc + "OD" + kEsc + "oD" + "X\n"), "Xab");
    EXPECT_EQ(Burst("ab" + kEsc + "[D" + kEsc + "[C" + "X\n"), "abX");
    // Two lines back and one forward is the newest line again.
    EXPECT_EQ(Burst(kEsc + "[A" + kEsc + "[A" + kEsc + "[B\n"), "abX");
}

TEST_F(ConsoleInputTest, AnEscapeBeforeAnOrdinaryKeyTypesTheKey)
{
    EXPECT_EQ(Burst(kEsc + "x\n"), "x");
    EXPECT_EQ(Burst(kEsc + "A\n"), "A");
    EXPECT_EQ(Burst("[O\n"), "[O");
    EXPECT_EQ(Burst(kEsc + "[" + "[\n"), "[");
}

TEST_F(ConsoleInputTest, AnUnknownSequenceIgnoresPrintableBytesUntilAKey)
{
    EXPECT_EQ(Burst("a" + kEsc + "[3~yz\n"), "a");
    EXPECT_EQ(Burst("a" + kEsc + "[3~Ob\n"), "aOb");
}

TEST_F(ConsoleInputTest, ASequenceSplitAcrossPollsIsTyped)
{
    EXPECT_EQ(Burst("q" + kEsc), "<none>");
    EXPECT_EQ(Burst("[A\n"), "q[A");
}

TEST_F(ConsoleInputTest, ControlAndHighBytesAreIgnoredAndBothBackspacesErase)
{
    EXPECT_EQ(Burst("a\r\x01\x1f\x80\xff" "b\n"), "ab");
    EXPECT_EQ(Burst("abc\x08\x7f" "d\n"), "ad");
}

TEST_F(ConsoleInputTest, TheEndOfInputGivesNoLineOnEveryPoll)
{
    Send("partial");
    CloseInput();
    EXPECT_EQ(Poll(), "<none>");
    EXPECT_EQ(Poll(), "<none>");
}

TEST_F(ConsoleInputTest, ShutDownWithoutATerminalChangesNothing)
{
    console_.ShutDown();
    console_.ShutDown();
    EXPECT_EQ(Burst("still\n"), "still");
}

// --- width ------------------------------------------------------------------------

// The width reported with standard output on a terminal of the given size.
int WidthOnTerminal(unsigned short columns)
{
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return -1;
    std::fflush(stdout);
    int savedStdout = dup(1);
    dup2(slave, 1);
    CTextConsoleUnix console;
    int width = console.GetWidth();
    dup2(savedStdout, 1);
    close(savedStdout);
    close(slave);
    close(master);
    return width;
}

TEST(ConsoleWidthTest, IsTheTerminalsColumnsOr80)
{
    EXPECT_EQ(WidthOnTerminal(132), 132);
    EXPECT_EQ(WidthOnTerminal(2), 2);
    EXPECT_EQ(WidthOnTerminal(1), 80);
    EXPECT_EQ(WidthOnTerminal(0), 80);  // a terminal whose size was never set
    std::fflush(stdout);
    int savedStdout = dup(1);
    int file = open("/dev/null", O_WRONLY);
    dup2(file, 1);
    CTextConsoleUnix console;
    int width = console.GetWidth();
    dup2(savedStdout, 1);
    close(savedStdout);
    close(file);
    EXPECT_EQ(width, 80);
}

}  // namespace
