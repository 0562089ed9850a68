#ifndef TARN_BENCH_FLOOR_H
#define TARN_BENCH_FLOOR_H

#include "stats.h"

#include <string>

// The floor of each pacing strategy: a bare loop of the same system calls
// with the same 1 ms argument, no launcher. Strategy 3 calls the bench
// engine's own NET_Sleep_Timeout, loaded from enginePath.
PacingFigures FloorOfStrategy(int strategy, long iterations, const std::string& enginePath);

// Nanoseconds per pass of a bare loop that calls the engine's
// NET_Sleep_Timeout (returning at once) and RunFrame directly, with or
// without a zero-timeout poll of an idle pipe, the console's poll.
double BareEngineLoopNanoseconds(const std::string& enginePath, long frames, bool withPoll);

#endif
