// Frame counts and timing for the status command and the info query.
// Recording a frame costs a few stores: no allocation, no sorting.
#ifndef TARN_MODULES_ENGINE_FRAME_STATS_H
#define TARN_MODULES_ENGINE_FRAME_STATS_H

#include <cstdint>

// Microseconds of the monotonic clock.
int64_t Stats_Microseconds();

// Frame intervals kept for the percentiles: the last this many frames.
constexpr int kIntervalSamples = 1000;

struct IntervalPercentiles {
    int samples;  // 0: no frame yet, the rest is 0
    double p50Milliseconds;
    double p90Milliseconds;
    double p99Milliseconds;
    double maxMilliseconds;
};

class FrameStats {
public:
    void Start(int64_t now);
    void RecordFrame(int64_t now);

    int64_t Frames() const { return frames_; }
    int64_t UptimeMicroseconds(int64_t now) const { return now - started_; }
    // Frames per second over the last whole second; before the first
    // second is over, over the time since the start.
    double FrameRate(int64_t now) const;
    // Sorts a copy of the kept intervals: for commands, not for frames.
    IntervalPercentiles Percentiles();

private:
    int64_t started_ = 0;
    int64_t lastFrame_ = 0;
    int64_t frames_ = 0;
    int64_t windowStart_ = 0;     // start of the second being counted
    int64_t framesInWindow_ = 0;
    double lastRate_ = -1;        // rate of the last whole second; -1: none yet
    uint32_t intervals_[kIntervalSamples] = {};  // microseconds, a ring
    int nextInterval_ = 0;
    int intervalCount_ = 0;
    uint32_t sorted_[kIntervalSamples] = {};
};

#endif
