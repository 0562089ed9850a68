#include "output/output_history.h"

#include "common/ring.h"

#include <cstring>

void OutputHistory::Append(const char* text, size_t length)
{
    const char* stop = text + length;
    for (const char* at = text; (at = static_cast<const char*>(std::memchr(at, '\n', stop - at))) != nullptr; ++at)
        ++lines_;
    if (length > kOutputHistorySize) {
        text += length - kOutputHistorySize;
        end_ += length - kOutputHistorySize;
        length = kOutputHistorySize;
    }
    Ring_Write(ring_, kOutputHistorySize, end_ % kOutputHistorySize, text, length);
    end_ += length;
}

uint64_t OutputHistory::ReplayStart(size_t recent) const
{
    uint64_t oldest = Oldest();
    uint64_t wanted = end_ > recent ? end_ - recent : 0;
    if (wanted <= oldest)
        wanted = oldest;
    // Back to the start of the line that holds wanted, where the ring has it.
    for (uint64_t position = wanted; position > oldest; --position)
        if (At(position - 1) == '\n')
            return position;
    if (oldest == 0)
        return 0;
    // Otherwise forward to the next line's start.
    for (uint64_t position = wanted; position < end_; ++position)
        if (At(position) == '\n')
            return position + 1;
    return end_;
}

size_t OutputHistory::Span(uint64_t position, const char** bytes) const
{
    if (position >= end_ || position < Oldest())
        return 0;
    size_t offset = position % kOutputHistorySize;
    *bytes = ring_ + offset;
    // No more than the ring holds lies between position and End.
    return Ring_Piece(kOutputHistorySize, offset, static_cast<size_t>(end_ - position));
}

uint64_t OutputHistory::NextLineStart(uint64_t position) const
{
    uint64_t oldest = Oldest();
    if (position <= oldest) {
        if (oldest == 0)
            return 0;
        position = oldest + 1;  // the byte before the oldest is gone
    }
    for (; position < end_; ++position)
        if (At(position - 1) == '\n')
            return position;
    return end_;
}

uint64_t OutputHistory::LinesFrom(uint64_t position) const
{
    uint64_t lines = 0;
    for (position = position > Oldest() ? position : Oldest(); position < end_; ++position)
        lines += At(position) == '\n' ? 1 : 0;
    return lines;
}
