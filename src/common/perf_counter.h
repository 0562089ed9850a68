#ifndef TARN_COMMON_PERF_COUNTER_H
#define TARN_COMMON_PERF_COUNTER_H

// Wall-clock timer in seconds with microsecond resolution. Every counter in
// the process counts from the start of the second in which any of them first
// read the clock, so readings of different counters can be compared.
class CPerformanceCounter {
public:
    CPerformanceCounter();
    void InitializePerformanceCounter();
    double GetCurTime();
};

#endif
