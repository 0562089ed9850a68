#include "telemetry/cycle_clock.h"

namespace {

constexpr int kPairAttempts = 4;

}  // namespace

ClockPair CycleClock_Pair()
{
    ClockPair best;
    uint64_t bestSpread = UINT64_MAX;
    for (int attempt = 0; attempt < kPairAttempts; ++attempt) {
        uint64_t before = CycleClock_Read();
        int64_t nanoseconds = Clock_Nanoseconds();
        uint64_t after = CycleClock_Read();
        if (after - before < bestSpread) {
            bestSpread = after - before;
            best.ticks = before + (after - before) / 2;
            best.nanoseconds = nanoseconds;
        }
    }
    return best;
}

double CycleClock_Rate(const ClockPair& from, const ClockPair& to)
{
    if (to.nanoseconds <= from.nanoseconds || to.ticks <= from.ticks)
        return 0;
    return static_cast<double>(to.ticks - from.ticks) * 1e9 /
           static_cast<double>(to.nanoseconds - from.nanoseconds);
}
