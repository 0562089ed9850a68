// The clocks the frame loop's services read.
#ifndef TARN_SERVICE_CLOCK_H
#define TARN_SERVICE_CLOCK_H

#include <cstdint>

// The monotonic clock in microseconds.
int64_t Clock_Microseconds();
// The same clock as the kernel keeps it for the taking: a third of the cost
// of the precise one, exact to a scheduler tick, far finer than any due
// time of the services. The one clock read of a frame.
int64_t Clock_CoarseMicroseconds();

#endif
