#include "common/clock.h"

#include <time.h>

namespace {

constexpr long kNanosecondsPerSecond = 1000000000;

// The clock in units of which kPerSecond make a second. Only the
// nanoseconds are divided, in a long: a 64-bit division is a library call
// on i386.
template <long kPerSecond>
int64_t Read(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * kPerSecond + now.tv_nsec / (kNanosecondsPerSecond / kPerSecond);
}

}  // namespace

int64_t Clock_Nanoseconds()
{
    return Read<kNanosecondsPerSecond>(CLOCK_MONOTONIC);
}

int64_t Clock_Microseconds()
{
    return Read<1000000>(CLOCK_MONOTONIC);
}

int64_t Clock_Milliseconds()
{
    return Read<1000>(CLOCK_MONOTONIC);
}

int64_t Clock_CoarseMicroseconds()
{
    return Read<1000000>(CLOCK_MONOTONIC_COARSE);
}
