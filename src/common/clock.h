// The monotonic clock, as every room of the launcher and its tools reads it.
// Every read is one clock_gettime: async-signal-safe.
#ifndef TARN_COMMON_CLOCK_H
#define TARN_COMMON_CLOCK_H

#include <cstdint>

// The monotonic clock in nanoseconds.
int64_t Clock_Nanoseconds();
// The monotonic clock in microseconds.
int64_t Clock_Microseconds();
// The monotonic clock in milliseconds.
int64_t Clock_Milliseconds();
// The same clock as the kernel keeps it for the taking: a third of the cost
// of the precise one, exact to a scheduler tick, far finer than any due
// time of the services. The one clock read of a frame.
int64_t Clock_CoarseMicroseconds();

#endif
