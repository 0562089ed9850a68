// The output channel in process, against a real pipe of one page that the
// test fills and drains itself: order across many wraps of a small ring,
// whole lines dropped and announced where they were lost, a line in
// progress taken back whole, and a reader that has gone.
#include "output/output_channel.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t kRingSize = 1024;

std::string s_tapped;
void Tap(const char* text, size_t length)
{
    s_tapped.append(text, length);
}

class OutputChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);  // as the launcher has it: a gone reader is a failed write
        ASSERT_EQ(pipe2(ends_, O_NONBLOCK | O_CLOEXEC), 0);
        fcntl(ends_[0], F_SETPIPE_SZ, 4096);
        channel_.Attach(ends_[1], Sink::kNonBlocking);
    }
    void TearDown() override
    {
        close(ends_[0]);
        close(ends_[1]);
    }
    // Fills the pipe with filler, as a reader that stopped would leave it.
    void Stall()
    {
        const std::string filler(4096, '#');
        while (write(ends_[1], filler.data(), filler.size()) > 0) {
        }
    }
    // What the reader gets now, filler left out.
    std::string Read()
    {
        std::string text;
        char buffer[8192];
        for (ssize_t count; (count = read(ends_[0], buffer, sizeof(buffer))) > 0;)
            for (ssize_t i = 0; i < count; ++i)
                if (buffer[i] != '#')
                    text += buffer[i];
        return text;
    }
    void Write(const std::string& text) { channel_.Write(text.data(), text.size()); }

    int ends_[2] = {-1, -1};
    char ring_[kRingSize] = {};
    OutputChannel channel_{ring_, kRingSize, Tap};
};

TEST_F(OutputChannelTest, KeepsTheOrderOfEveryLineAcrossManyWrapsOfItsRing)
{
    std::string written, read;
    for (int round = 0; round < 100; ++round) {
        Stall();
        for (int line = 0; line < 5; ++line) {
            std::string text = "round " + std::to_string(round) + " line " + std::to_string(line) + "\n";
            Write(text);
            written += text;
        }
        read += Read();
        channel_.Flush();
        read += Read();
    }
    EXPECT_EQ(read, written);
    EXPECT_EQ(channel_.DroppedLines(), 0);
}

// The tap gets every line, the dropped ones too, and no notice: a reader of
// it misses nothing that a stalled destination could not take.
TEST_F(OutputChannelTest, DropsWholeLinesPastItsRingAndSaysHowManyWhereTheyWereLost)
{
    Stall();
    s_tapped.clear();
    const std::string line(39, 'q');
    std::string kept, all;
    for (int i = 0; i < 23; ++i) {
        Write(line + "\n");
        kept += line + "\n";
    }
    all = kept + "typed, never finished " + std::string(2000, 'x') + "\n";
    Write("typed, never finished ");  // queued, then taken back whole by the drop
    Write(std::string(2000, 'x') + "\n");
    for (int i = 0; i < 16; ++i) {
        Write(line + "\n");
        all += line + "\n";
    }
    Read();
    channel_.Flush();
    Write("after\n");
    channel_.Flush();
    EXPECT_EQ(Read(), kept + "Output was blocked: 17 lines dropped.\nafter\n");
    EXPECT_EQ(s_tapped, all + "after\n");
    EXPECT_EQ(channel_.DroppedLines(), 17);
    close(ends_[0]);
    ends_[0] = open("/dev/null", O_RDONLY);  // the reader has gone: lost and counted
    Write("one\ntwo\n");
    EXPECT_EQ(channel_.DroppedLines(), 19);
}

}  // namespace

namespace {

// The last words of a crash start a line of their own, whatever the reader
// got last: a line in part (written at once, or from the queue), or whole.
TEST_F(OutputChannelTest, LastWordsStartALineOfTheirOwn)
{
    struct Row { std::string before; bool stalled; std::string read; };
    for (const Row& row : {Row{"whole\n", false, "whole\nlast\n"}, Row{"part", false, "part\nlast\n"},
                           Row{"queued part", true, "queued part\nlast\n"}}) {
        Read();
        if (row.stalled)
            Stall();
        Write(row.before);
        if (row.stalled) {
            Read();
            channel_.Flush();
        }
        channel_.WriteLast("last\n", 5);
        EXPECT_EQ(Read(), row.read) << row.before;
        Write("\n");
    }
}

}  // namespace
