#include "stats.h"

#include <algorithm>
#include <sys/resource.h>

long long CpuMicroseconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

double Percentile(const std::vector<long long>& sorted, double percent)
{
    if (sorted.empty())
        return 0;
    size_t index = static_cast<size_t>(percent / 100.0 * (sorted.size() - 1) + 0.5);
    return static_cast<double>(sorted[std::min(index, sorted.size() - 1)]);
}

PacingFigures Summarise(std::vector<long long> intervals, long long wallNanoseconds,
                        long long cpuMicroseconds)
{
    PacingFigures figures;
    figures.frames = static_cast<long>(intervals.size());
    figures.intervals = intervals;
    std::sort(intervals.begin(), intervals.end());
    if (wallNanoseconds > 0)
        figures.framesPerSecond = figures.frames * 1e9 / wallNanoseconds;
    figures.p50Microseconds = Percentile(intervals, 50) / 1000.0;
    figures.p99Microseconds = Percentile(intervals, 99) / 1000.0;
    figures.maxMicroseconds = intervals.empty() ? 0 : intervals.back() / 1000.0;
    if (figures.frames > 0)
        figures.cpuMicrosecondsPerFrame = static_cast<double>(cpuMicroseconds) / figures.frames;
    return figures;
}
