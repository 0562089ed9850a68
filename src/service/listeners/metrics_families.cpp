#include "service/listeners/metrics_families.h"

#include "output/output.h"
#include "service/listeners/control_socket.h"
#include "telemetry/telemetry.h"

#ifndef TARN_VERSION
#define TARN_VERSION "unknown"
#endif

namespace {

#if defined(__x86_64__)
constexpr const char* kArch = "x86-64";
#elif defined(__i386__)
constexpr const char* kArch = "i386";
#else
constexpr const char* kArch = "other";
#endif

struct HistogramFamily {
    FrameMeasure measure;
    const char* name;
    const char* help;
};

const HistogramFamily kHistograms[kFrameMeasures] = {
    {FrameMeasure::kInterval, "tarn_frame_interval_seconds",
     "Time from the start of one frame to the start of the next, within one engine start."},
    {FrameMeasure::kEngineFrame, "tarn_engine_frame_seconds", "Time inside the engine's RunFrame."},
    {FrameMeasure::kLateness, "tarn_pacing_lateness_seconds",
     "How much longer than asked the wait before a frame took, counted from the end of the frame "
     "before it."},
};

const MetricLabel kConsoleSource[] = {{"source", "console"}};
const MetricLabel kControlSource[] = {{"source", "control"}};
const MetricLabel kBuild[] = {{"version", TARN_VERSION}, {"arch", kArch}};

uint64_t Whole(int64_t value)
{
    return static_cast<uint64_t>(value);
}

// A family of one sample without labels.
void Counter(IMetricsFormat& format, const char* name, const char* help, int64_t value)
{
    format.Family(name, MetricType::kCounter, help);
    format.Count({}, Whole(value));
}

void Counters(IMetricsFormat& format)
{
    Counter(format, "tarn_frames_total", "Frames the engine ran.", Telemetry_Frames());
    Counter(format, "tarn_engine_starts_total", "Engine starts: the first and every restart.",
            Telemetry_EngineStarts());
    format.Family("tarn_console_lines_total", MetricType::kCounter,
                  "Lines handed to the engine, by source: the terminal or standard input, the control socket.");
    format.Count({kConsoleSource, 1}, Whole(Telemetry_LinesTyped(LineSource::kConsole)));
    format.Count({kControlSource, 1}, Whole(Telemetry_LinesTyped(LineSource::kControl)));
    Counter(format, "tarn_output_dropped_lines_total", "Output lines dropped because their reader did not keep up.",
            Output_DroppedLines());
    const ControlCounts& control = Control_Counts();
    Counter(format, "tarn_control_refused_total", "Control-socket clients refused.", control.refused);
    Counter(format, "tarn_control_disconnected_total", "Control-socket clients the launcher disconnected.",
            control.disconnected);
    Counter(format, "tarn_control_dropped_lines_total",
            "Output lines control-socket clients missed because they fell too far behind.", control.droppedLines);
}

void Gauges(IMetricsFormat& format)
{
    format.Family("tarn_control_clients", MetricType::kGauge, "Control-socket clients attached now.");
    format.Count({}, Whole(Control_Counts().attached));
    format.Family("tarn_start_time_seconds", MetricType::kGauge, "Start time of the process, in Unix time.");
    format.Seconds(Telemetry_StartTime());
    format.Family("tarn_engine_start_time_seconds", MetricType::kGauge,
                  "Time the engine last started, in Unix time; 0 before its first start.");
    format.Seconds(Telemetry_EngineStartTime());
    format.Family("tarn_build_info", MetricType::kGauge, "The launcher's version and architecture; always 1.");
    format.Count({kBuild, 2}, 1);
}

}  // namespace

void Metrics_Describe(IMetricsFormat& format)
{
    for (const HistogramFamily& histogram : kHistograms) {
        format.Family(histogram.name, MetricType::kHistogram, histogram.help);
        format.Histogram(Telemetry_Histogram(histogram.measure), Telemetry_TicksPerSecond());
    }
    Counters(format);
    Gauges(format);
}
