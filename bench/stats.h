#ifndef TARN_BENCH_STATS_H
#define TARN_BENCH_STATS_H

#include "monotonic.h"

#include <string>
#include <vector>

// Frame pacing figures of one run.
struct PacingFigures {
    long frames = 0;
    double framesPerSecond = 0;
    double p50Microseconds = 0;
    double p99Microseconds = 0;
    double maxMicroseconds = 0;
    double cpuMicrosecondsPerFrame = 0;
    long allocations = -1;  // heap allocations over the measured frames; -1 unknown
    long long printNanoseconds = 0;  // the engine's printing in the measured frames
    std::vector<long long> intervals;  // nanoseconds
};

// Figures from frame intervals (nanoseconds), the wall time they covered
// and the processor time spent meanwhile.
PacingFigures Summarise(std::vector<long long> intervals, long long wallNanoseconds,
                        long long cpuMicroseconds);

long long CpuMicroseconds();  // user and system time of this process

// Nanoseconds per call of call, over 20 million calls back to back.
template <typename Call>
double NanosecondsPerCall(Call call)
{
    constexpr long kCalls = 20000000;
    long long start = MonotonicNanoseconds();
    for (long i = 0; i < kCalls; ++i)
        call();
    return static_cast<double>(MonotonicNanoseconds() - start) / kCalls;
}

// The percentile (0..100) of sorted values.
double Percentile(const std::vector<long long>& sorted, double percent);

#endif
