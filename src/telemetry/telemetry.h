// What the launcher counts about its frames and the lines typed to the
// engine, for the monitoring that scrapes it. Fixed storage; each call is a few additions.
//
// Every frame is timed at its two edges, just before and just after the
// engine's RunFrame, with one read of the cycle counter each (cycle_clock.h)
// and three histograms filled from them. That is the whole cost per frame,
// so the telemetry is always on.
#ifndef TARN_TELEMETRY_TELEMETRY_H
#define TARN_TELEMETRY_TELEMETRY_H

#include <cstdint>

// Where a line handed to the engine came from.
enum class LineSource { kConsole, kControl };

// A line reached the engine's SubmitConsoleText.
void Telemetry_LineTyped(LineSource source);
int64_t Telemetry_LinesTyped(LineSource source);

// The upper bounds of the frame histograms' buckets, in seconds; a last
// bucket without bound takes the rest.
constexpr int kFrameBuckets = 13;
constexpr double kFrameBucketBounds[kFrameBuckets] = {
    0.0005, 0.001, 0.0015, 0.002, 0.004, 0.008, 0.016, 0.032, 0.064, 0.128, 0.256, 0.512, 1.024};
// The buckets that hold intervals of at most 2 ms.
constexpr int kWithin2msBuckets = 4;
static_assert(kFrameBucketBounds[kWithin2msBuckets - 1] == 0.002, "the 2 ms bound moved");

enum class FrameMeasure {
    // From the start of one frame to the start of the next, within one
    // engine start.
    kInterval,
    // Inside the engine's RunFrame.
    kEngineFrame,
    // From the end of one frame (or the engine's start) to the start of the
    // next, beyond the wait that the pacing asks for: how late the pacing
    // woke, with the launcher's own work between the frames (the console's
    // poll, the output, the services), normally a microsecond or two.
    kLateness,
};
constexpr int kFrameMeasures = 3;

struct FrameHistogram {
    uint64_t counts[kFrameBuckets + 1] = {};  // per bucket, not cumulative
    uint64_t sumTicks = 0;                    // of the cycle counter
};

// Startup, before the engine module is loaded: the process's start time,
// and the first reading that calibrates the cycle counter.
void Telemetry_Open();
// The engine started; each of its frames asks the pacing to wait
// pacingMilliseconds. Its first frame has no interval before it.
void Telemetry_EngineStarted(int pacingMilliseconds);
// Just before and just after the engine's RunFrame.
void Telemetry_FrameBegins();
void Telemetry_FrameEnds();
// The same at a given reading of the cycle counter (CycleClock_Read), for a
// caller that knows the time already or sets it, as a test does.
void Telemetry_FrameBeginsAt(uint64_t ticks);
void Telemetry_FrameEndsAt(uint64_t ticks);

const FrameHistogram& Telemetry_Histogram(FrameMeasure measure);
// The cycle counter's rate, as last measured against CLOCK_MONOTONIC.
double Telemetry_TicksPerSecond();
int64_t Telemetry_Frames();        // frames run since the start
int64_t Telemetry_EngineStarts();  // the first start and every restart
double Telemetry_StartTime();      // Unix time, in seconds
double Telemetry_EngineStartTime();  // of the last engine start; 0 before

#endif
