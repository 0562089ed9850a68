#ifndef TARN_BENCH_STOP_LATENCY_H
#define TARN_BENCH_STOP_LATENCY_H

#include <vector>

// Sends SIGTERM to a running launcher stops times, each with a no-op engine
// running its frames, and returns the time from the signal to the end of
// the process, in nanoseconds, sorted.
std::vector<long long> StopLatencies(int stops);

#endif
