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

// Each frame histogram is kept twice: in classic buckets, whose bounds every
// scraper reads, and in native ones, fine and exponential, for a scraper
// that reads sparse histograms. Both are filled in constant time.
//
// The upper bounds of the classic buckets, in seconds; a last bucket
// without bound takes the rest. Dense where frames are paced (0.5 to 2 ms)
// and where engines run (4 to 16 ms); every power of two times 0.5 ms is
// one of them.
constexpr int kFrameBuckets = 38;
constexpr double kFrameBucketBounds[kFrameBuckets] = {
    0.0005, 0.0006, 0.0007, 0.0008, 0.0009, 0.001, 0.0011, 0.0012, 0.0013, 0.0014,
    0.0015, 0.0017, 0.002,  0.0025, 0.003,  0.0035, 0.004, 0.005,  0.006,  0.007,
    0.008,  0.009,  0.01,   0.012,  0.014,  0.016,  0.02,  0.025,  0.032,  0.04,
    0.05,   0.064,  0.1,    0.128,  0.2,    0.256,  0.512, 1.024};
// The buckets that hold intervals of at most 2 ms.
constexpr int kWithin2msBuckets = 13;
static_assert(kFrameBucketBounds[kWithin2msBuckets - 1] == 0.002, "the 2 ms bound moved");

// The native buckets: with schema 5, the bucket of index i holds the values
// in (2^((i-1)/32), 2^(i/32)] seconds, 2.2% wide. They run from just above
// kNativeZeroThreshold (about 60 ns), whose values and below count in the
// zero bucket, up to 2^10 seconds; anything longer counts in the last one.
constexpr int kNativeSchema = 5;
constexpr int kNativePerOctave = 1 << kNativeSchema;
constexpr int kNativeLowestOctave = -24;
constexpr int kNativeHighestOctave = 10;
constexpr double kNativeZeroThreshold = 1.0 / (1 << -kNativeLowestOctave);
constexpr int kNativeFirstIndex = kNativeLowestOctave * kNativePerOctave + 1;
constexpr int kNativeBuckets = (kNativeHighestOctave - kNativeLowestOctave) * kNativePerOctave;

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
    uint64_t counts[kFrameBuckets + 1] = {};  // classic, per bucket, not cumulative
    uint64_t sumTicks = 0;                    // of the cycle counter
    uint64_t zeroCount = 0;                   // at most kNativeZeroThreshold
    uint64_t native[kNativeBuckets] = {};     // [i] has index kNativeFirstIndex + i
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
