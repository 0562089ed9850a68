// The clock of the per-frame telemetry: the processor's time-stamp counter.
// A read costs about 11 ns on the machines we measure, against 27 ns for
// CLOCK_MONOTONIC through the vDSO, and a frame reads it twice; the coarse
// clock is cheaper still but ticks every 4 ms, coarser than the frame
// itself. The counter runs at a fixed rate on every processor with
// constant_tsc, which the launcher measures against CLOCK_MONOTONIC rather
// than trusting a nominal frequency.
#ifndef TARN_TELEMETRY_CYCLE_CLOCK_H
#define TARN_TELEMETRY_CYCLE_CLOCK_H

#include "common/clock.h"

#include <cstdint>

// Counter ticks; nanoseconds of CLOCK_MONOTONIC where there is no x86
// time-stamp counter. Not serialising: a read may move a few instructions
// early or late, which is far below what the telemetry resolves.
inline uint64_t CycleClock_Read()
{
#if defined(__i386__) || defined(__x86_64__)
    return __builtin_ia32_rdtsc();
#else
    return static_cast<uint64_t>(Clock_Nanoseconds());
#endif
}

// A counter reading and a CLOCK_MONOTONIC reading taken together.
struct ClockPair {
    uint64_t ticks = 0;
    int64_t nanoseconds = 0;
};

// The tightest of a few attempts: a preemption between the two reads would
// otherwise skew the pair by a whole time slice.
ClockPair CycleClock_Pair();

// Counter ticks per second between two pairs; 0 when no time has passed.
double CycleClock_Rate(const ClockPair& from, const ClockPair& to);

#endif
