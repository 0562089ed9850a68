// The output's history as an attaching console reads it: where its replay
// starts, and that the bytes it gets from there are the ones written, with
// the ring filled exactly, wrapped by one byte and many times over, and
// written in pieces that straddle its end.
#include "output/output_history.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr uint64_t kRing = kOutputHistorySize;
constexpr uint64_t kLine = 16;  // "line 0000000000\n"
static_assert(kRing % kLine == 0, "the rows count on lines that tile the ring");

// The first bytes of a stream of numbered lines.
std::string Stream(uint64_t bytes)
{
    std::string text;
    char line[kLine + 1];
    for (uint64_t number = 0; text.size() < bytes; ++number) {
        std::snprintf(line, sizeof(line), "line %010llu\n", static_cast<unsigned long long>(number));
        text += line;
    }
    text.resize(bytes);
    return text;
}

// All that a reader gets from position on, piece by piece.
std::string ReadFrom(const OutputHistory& history, uint64_t position)
{
    std::string text;
    const char* bytes = nullptr;
    for (size_t length; (length = history.Span(position, &bytes)) > 0; position += length)
        text.append(bytes, length);
    return text;
}

TEST(OutputHistoryTest, AReplayStartsAtALineTheRingHoldsWholeAndReadsBackWhatWasWritten)
{
    const uint64_t all = ~0ull >> 1;
    // Written in pieces of piece bytes; a console asks for recent bytes.
    struct Row { uint64_t written; uint64_t piece; uint64_t recent; uint64_t start; };
    const Row rows[] = {
        {0, 1, all, 0},
        {3 * kLine, kLine, 0, 3 * kLine},
        {3 * kLine, kLine, kLine, 2 * kLine},
        {3 * kLine, kLine, kLine + 1, kLine},
        {3 * kLine, 5, all, 0},
        {6 * kLine + 4, 7, 1, 6 * kLine},
        {kRing, kLine, all, 0},
        {kRing, 1000, kLine, kRing - kLine},
        {kRing + 1, kLine, all, kLine},
        {kRing + 1, kRing + 1, all, kLine},
        {kRing + 8, 1000, all, kLine},
        {5 * kRing + 100, 1000, all, 4 * kRing + 7 * kLine},
        {5 * kRing + 100, 1000, kRing - 1, 4 * kRing + 7 * kLine},
        {5 * kRing + 100, 1000, 2 * kLine, 5 * kRing + 4 * kLine},
        {3 * kRing + 5, 3 * kRing + 5, all, 2 * kRing + kLine},
        // The oldest byte held begins a line, but the newline before it is
        // gone, so nothing shows that it does.
        {2 * kRing, kLine, all, kRing + kLine},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.written) + " bytes in pieces of " + std::to_string(row.piece) +
                     ", " + std::to_string(row.recent) + " recent");
        const std::string stream = Stream(row.written);
        auto history = std::make_unique<OutputHistory>();
        for (uint64_t at = 0; at < row.written; at += row.piece)
            history->Append(stream.data() + at, std::min(row.piece, row.written - at));
        EXPECT_EQ(history->End(), row.written);
        uint64_t start = history->ReplayStart(row.recent);
        EXPECT_EQ(start, row.start);
        EXPECT_TRUE(ReadFrom(*history, start) == stream.substr(start));
    }
}

TEST(OutputHistoryTest, NothingIsReplayedOrReadThatTheRingDoesNotHold)
{
    auto history = std::make_unique<OutputHistory>();
    const std::string unbroken(kRing + 10, 'x');
    history->Append(unbroken.data(), unbroken.size());
    EXPECT_EQ(history->ReplayStart(kRing), history->End());
    const char* bytes = nullptr;
    EXPECT_EQ(history->Span(9, &bytes), 0u);
    EXPECT_EQ(history->Span(10, &bytes), kRing - 10);
    EXPECT_EQ(history->Span(history->End(), &bytes), 0u);
}

}  // namespace
