#include "telemetry/telemetry.h"

#include "telemetry/cycle_clock.h"
#include "telemetry/frame_buckets.h"

#include <cmath>
#include <time.h>

namespace {

int64_t s_linesTyped[2] = {};

int Index(LineSource source)
{
    return source == LineSource::kControl ? 1 : 0;
}

// How often the cycle counter's rate is measured again, in seconds of it.
constexpr double kCalibrationInterval = 1.0;

// The frame telemetry. Times are cycle-counter ticks.
struct Frames {
    bool opened = false;
    ClockPair anchor;                          // the first calibration reading
    double ticksPerSecond = 0;
    double secondsPerTick = 0;
    double pacingSeconds = 0;                  // the wait each frame asks for
    uint64_t pacingTicks = 0;
    uint64_t nextCalibration = 0;
    uint64_t began = 0;    // the start of the current or the last frame
    uint64_t ended = 0;    // the end of the last frame, or the engine's start
    bool running = false;  // a frame of this engine start has begun
    uint64_t interval = 0;  // of the current frame, counted at its end
    bool hasInterval = false;
    uint64_t lateness = 0;
    FrameHistogram histograms[kFrameMeasures];
    int64_t frames = 0;
    int64_t engineStarts = 0;
    double startTime = 0;
    double engineStartTime = 0;
};

Frames s_frames;

double UnixTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

uint64_t Ticks(double seconds)
{
    return static_cast<uint64_t>(std::llround(seconds * s_frames.ticksPerSecond));
}

// Measures the counter's rate from the anchor to now, and the bounds in
// ticks with it. The longer the span, the closer the rate.
void Calibrate()
{
    double rate = CycleClock_Rate(s_frames.anchor, CycleClock_Pair());
    if (rate <= 0)
        return;
    s_frames.ticksPerSecond = rate;
    s_frames.secondsPerTick = 1 / rate;
    s_frames.pacingTicks = Ticks(s_frames.pacingSeconds);
    s_frames.nextCalibration = CycleClock_Read() + Ticks(kCalibrationInterval);
}

// A counter that went backwards (another processor's, not quite in step)
// counts as no time.
uint64_t Elapsed(uint64_t from, uint64_t to)
{
    return to > from ? to - from : 0;
}

void Observe(FrameMeasure measure, uint64_t ticks)
{
    FrameHistogram& histogram = s_frames.histograms[static_cast<int>(measure)];
    // Elapsed ticks stay far below 2^63: the signed conversion is the quick one.
    FrameBucket bucket = FrameBuckets_Find(static_cast<double>(static_cast<int64_t>(ticks)) * s_frames.secondsPerTick);
    ++histogram.counts[bucket.classic];
    if (bucket.native < 0)
        ++histogram.zeroCount;
    else
        ++histogram.native[bucket.native];
    histogram.sumTicks += ticks;
}

}  // namespace

void Telemetry_LineTyped(LineSource source)
{
    ++s_linesTyped[Index(source)];
}

int64_t Telemetry_LinesTyped(LineSource source)
{
    return s_linesTyped[Index(source)];
}

void Telemetry_Open()
{
    if (s_frames.opened)
        return;
    s_frames.opened = true;
    FrameBuckets_Init();
    s_frames.startTime = UnixTime();
    s_frames.anchor = CycleClock_Pair();
}

void Telemetry_EngineStarted(int pacingMilliseconds)
{
    Telemetry_Open();
    ++s_frames.engineStarts;
    s_frames.engineStartTime = UnixTime();
    s_frames.pacingSeconds = pacingMilliseconds / 1000.0;
    Calibrate();
    s_frames.running = false;
    s_frames.ended = CycleClock_Read();
}

void Telemetry_FrameBegins()
{
    Telemetry_FrameBeginsAt(CycleClock_Read());
}

void Telemetry_FrameEnds()
{
    Telemetry_FrameEndsAt(CycleClock_Read());
}

void Telemetry_FrameBeginsAt(uint64_t now)
{
    s_frames.hasInterval = s_frames.running;
    s_frames.interval = Elapsed(s_frames.began, now);
    s_frames.lateness = Elapsed(s_frames.pacingTicks, Elapsed(s_frames.ended, now));
    s_frames.began = now;
    s_frames.running = true;
}

// A frame's three measures are counted together, at its end: their lookups
// do not wait for one another, while a read of the counter between them
// would make each wait for the last (where the counter's read traps to a
// hypervisor, it waits for everything before it).
void Telemetry_FrameEndsAt(uint64_t now)
{
    if (s_frames.hasInterval)
        Observe(FrameMeasure::kInterval, s_frames.interval);
    Observe(FrameMeasure::kLateness, s_frames.lateness);
    Observe(FrameMeasure::kEngineFrame, Elapsed(s_frames.began, now));
    s_frames.ended = now;
    ++s_frames.frames;
    if (now >= s_frames.nextCalibration)
        Calibrate();
}

const FrameHistogram& Telemetry_Histogram(FrameMeasure measure)
{
    return s_frames.histograms[static_cast<int>(measure)];
}

double Telemetry_TicksPerSecond()
{
    return s_frames.ticksPerSecond;
}

int64_t Telemetry_Frames()
{
    return s_frames.frames;
}

int64_t Telemetry_EngineStarts()
{
    return s_frames.engineStarts;
}

double Telemetry_StartTime()
{
    return s_frames.startTime;
}

double Telemetry_EngineStartTime()
{
    return s_frames.engineStartTime;
}
