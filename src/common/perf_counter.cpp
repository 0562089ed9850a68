// CPerformanceCounter: seconds since a process-wide reference second.

#include "common/perf_counter.h"

#include <sys/time.h>

namespace {

constexpr double kSecondsPerMicrosecond = 0.000001;

}  // namespace

CPerformanceCounter::CPerformanceCounter()
{
    InitializePerformanceCounter();
}

// The wall clock needs no setup.
void CPerformanceCounter::InitializePerformanceCounter()
{
}

// The first reading in the process takes the reference second, so it is
// always at least 0 and below 1.
double CPerformanceCounter::GetCurTime()
{
    static time_t secbase = 0;  // whole seconds of the first reading; 0 until taken

    timeval now = {};
    gettimeofday(&now, nullptr);
    if (secbase == 0) {
        secbase = now.tv_sec;
        return now.tv_usec * kSecondsPerMicrosecond;
    }
    int seconds = static_cast<int>(now.tv_sec - secbase);
    return seconds + now.tv_usec * kSecondsPerMicrosecond;
}
