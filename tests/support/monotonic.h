#ifndef TARN_TESTS_SUPPORT_MONOTONIC_H
#define TARN_TESTS_SUPPORT_MONOTONIC_H

// The monotonic clock of the tests and benchmarks, and waiting on it for a
// condition to come true.

#include <ctime>

inline long long MonotonicNanoseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

inline int MillisecondsSince(long long startNanoseconds)
{
    return static_cast<int>((MonotonicNanoseconds() - startNanoseconds) / 1000000);
}

// Checks done() every pollMilliseconds until it is true (then true) or
// timeoutMilliseconds have passed (then false, after one last check).
template <typename Done>
bool WaitUntil(Done done, int timeoutMilliseconds, int pollMilliseconds = 5)
{
    long long start = MonotonicNanoseconds();
    while (!done()) {
        if (MillisecondsSince(start) >= timeoutMilliseconds)
            return done();
        timespec pause{pollMilliseconds / 1000, (pollMilliseconds % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return true;
}

#endif
