#include "common/clock.h"

#include <time.h>

namespace {

int64_t Microseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

int64_t Clock_Microseconds()
{
    return Microseconds(CLOCK_MONOTONIC);
}

int64_t Clock_CoarseMicroseconds()
{
    return Microseconds(CLOCK_MONOTONIC_COARSE);
}
