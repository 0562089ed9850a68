// The recent stream of standard output, kept for consoles that attach: a
// ring of fixed size in which every byte has a position counted from the
// start of the process.
#ifndef TARN_OUTPUT_OUTPUT_HISTORY_H
#define TARN_OUTPUT_OUTPUT_HISTORY_H

#include <cstddef>
#include <cstdint>

// Room for what an attaching console replays and for the most a console
// may fall behind before it counts as no longer reading.
constexpr size_t kOutputHistorySize = 512 * 1024;

class OutputHistory {
public:
    void Append(const char* text, size_t length);
    // The position after the last byte.
    uint64_t End() const { return end_; }
    // Where a console attaching now starts: at least recent bytes back
    // where the ring has them, and always at the start of a line.
    uint64_t ReplayStart(size_t recent) const;
    // The bytes from position on that lie in one piece; none past End.
    size_t Span(uint64_t position, const char** bytes) const;
    // The first position the ring still holds.
    uint64_t Oldest() const { return end_ > kOutputHistorySize ? end_ - kOutputHistorySize : 0; }
    // The newlines appended since the start, and those from position on.
    uint64_t Lines() const { return lines_; }
    uint64_t LinesFrom(uint64_t position) const;
    // The first start of a line at or after position that the ring holds;
    // End when there is none.
    uint64_t NextLineStart(uint64_t position) const;

private:
    char At(uint64_t position) const { return ring_[position % kOutputHistorySize]; }

    char ring_[kOutputHistorySize] = {};
    uint64_t end_ = 0;
    uint64_t lines_ = 0;
};

#endif
