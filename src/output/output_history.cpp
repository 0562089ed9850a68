#include "output/output_history.h"

#include <algorithm>
#include <cstring>

void OutputHistory::Append(const char* text, size_t length)
{
    if (length > kOutputHistorySize) {
        text += length - kOutputHistorySize;
        end_ += length - kOutputHistorySize;
        length = kOutputHistorySize;
    }
    size_t tail = end_ % kOutputHistorySize;
    size_t first = std::min(length, kOutputHistorySize - tail);
    std::memcpy(ring_ + tail, text, first);
    std::memcpy(ring_, text + first, length - first);
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
    return static_cast<size_t>(std::min<uint64_t>(end_ - position, kOutputHistorySize - offset));
}
