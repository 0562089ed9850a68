#include "frame_stats.h"

#include <algorithm>
#include <time.h>

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;
constexpr double kMicrosecondsPerMillisecond = 1000.0;

// The nearest-rank percentile of sorted values, in milliseconds.
double Rank(const uint32_t* sorted, int count, int percent)
{
    int index = (count * percent + 99) / 100 - 1;
    return sorted[std::max(index, 0)] / kMicrosecondsPerMillisecond;
}

}  // namespace

int64_t Stats_Microseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kMicrosecondsPerSecond + now.tv_nsec / 1000;
}

void FrameStats::Start(int64_t now)
{
    *this = FrameStats();
    started_ = lastFrame_ = windowStart_ = now;
}

void FrameStats::RecordFrame(int64_t now)
{
    int64_t interval = std::min<int64_t>(now - lastFrame_, UINT32_MAX);
    intervals_[nextInterval_] = static_cast<uint32_t>(std::max<int64_t>(interval, 0));
    nextInterval_ = (nextInterval_ + 1) % kIntervalSamples;
    intervalCount_ = std::min(intervalCount_ + 1, kIntervalSamples);
    lastFrame_ = now;
    ++frames_;

    if (now - windowStart_ >= kMicrosecondsPerSecond) {
        lastRate_ = static_cast<double>(framesInWindow_) * kMicrosecondsPerSecond /
                    static_cast<double>(now - windowStart_);
        windowStart_ = now;
        framesInWindow_ = 0;
    }
    ++framesInWindow_;
}

double FrameStats::FrameRate(int64_t now) const
{
    if (lastRate_ >= 0)
        return lastRate_;
    int64_t elapsed = std::max<int64_t>(now - windowStart_, 1);
    return static_cast<double>(framesInWindow_) * kMicrosecondsPerSecond / static_cast<double>(elapsed);
}

IntervalPercentiles FrameStats::Percentiles()
{
    IntervalPercentiles result{intervalCount_, 0, 0, 0, 0};
    if (intervalCount_ == 0)
        return result;
    std::copy(intervals_, intervals_ + intervalCount_, sorted_);
    std::sort(sorted_, sorted_ + intervalCount_);
    result.p50Milliseconds = Rank(sorted_, intervalCount_, 50);
    result.p90Milliseconds = Rank(sorted_, intervalCount_, 90);
    result.p99Milliseconds = Rank(sorted_, intervalCount_, 99);
    result.maxMilliseconds = sorted_[intervalCount_ - 1] / kMicrosecondsPerMillisecond;
    return result;
}
