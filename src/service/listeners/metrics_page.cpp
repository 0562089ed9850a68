#include "service/listeners/metrics_page.h"

#include "common/text_builder.h"
#include "output/output.h"
#include "service/listeners/control_socket.h"
#include "telemetry/telemetry.h"

#include <cstdint>

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

// The metric's two comment lines.
void Describe(TextBuilder& page, const char* name, const char* type, const char* help)
{
    page.Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

struct HistogramText {
    FrameMeasure measure;
    const char* name;
    const char* help;
};

const HistogramText kHistograms[kFrameMeasures] = {
    {FrameMeasure::kInterval, "tarn_frame_interval_seconds",
     "Time from the start of one frame to the start of the next, within one engine start."},
    {FrameMeasure::kEngineFrame, "tarn_engine_frame_seconds", "Time inside the engine's RunFrame."},
    {FrameMeasure::kLateness, "tarn_pacing_lateness_seconds",
     "How much longer than asked the wait before a frame took, counted from the end of the frame "
     "before it."},
};

unsigned long long Count(int64_t value)
{
    return static_cast<unsigned long long>(value);
}

void AddHistogram(TextBuilder& page, const HistogramText& text)
{
    const FrameHistogram& histogram = Telemetry_Histogram(text.measure);
    Describe(page, text.name, "histogram", text.help);
    unsigned long long cumulative = 0;
    for (int i = 0; i < kFrameBuckets; ++i) {
        cumulative += histogram.counts[i];
        page.Format("%s_bucket{le=\"%g\"} %llu\n", text.name, kFrameBucketBounds[i], cumulative);
    }
    cumulative += histogram.counts[kFrameBuckets];
    page.Format("%s_bucket{le=\"+Inf\"} %llu\n", text.name, cumulative);
    double rate = Telemetry_TicksPerSecond();
    page.Format("%s_sum %.9f\n", text.name, rate > 0 ? static_cast<double>(histogram.sumTicks) / rate : 0.0);
    page.Format("%s_count %llu\n", text.name, cumulative);
}

void AddCounters(TextBuilder& page)
{
    Describe(page, "tarn_frames_total", "counter", "Frames the engine ran.");
    page.Format("tarn_frames_total %llu\n", Count(Telemetry_Frames()));
    Describe(page, "tarn_engine_starts_total", "counter", "Engine starts: the first and every restart.");
    page.Format("tarn_engine_starts_total %llu\n", Count(Telemetry_EngineStarts()));
    Describe(page, "tarn_console_lines_total", "counter",
             "Lines handed to the engine, by source: the terminal or standard input, the control socket.");
    page.Format("tarn_console_lines_total{source=\"console\"} %llu\n",
                Count(Telemetry_LinesTyped(LineSource::kConsole)));
    page.Format("tarn_console_lines_total{source=\"control\"} %llu\n",
                Count(Telemetry_LinesTyped(LineSource::kControl)));
    Describe(page, "tarn_output_dropped_lines_total", "counter",
             "Output lines dropped because their reader did not keep up.");
    page.Format("tarn_output_dropped_lines_total %llu\n", Count(Output_DroppedLines()));
    const ControlCounts& control = Control_Counts();
    Describe(page, "tarn_control_refused_total", "counter", "Control-socket clients refused.");
    page.Format("tarn_control_refused_total %llu\n", Count(control.refused));
    Describe(page, "tarn_control_disconnected_total", "counter",
             "Control-socket clients the launcher disconnected.");
    page.Format("tarn_control_disconnected_total %llu\n", Count(control.disconnected));
}

void AddGauges(TextBuilder& page)
{
    Describe(page, "tarn_control_clients", "gauge", "Control-socket clients attached now.");
    page.Format("tarn_control_clients %llu\n", Count(Control_Counts().attached));
    Describe(page, "tarn_start_time_seconds", "gauge", "Start time of the process, in Unix time.");
    page.Format("tarn_start_time_seconds %.3f\n", Telemetry_StartTime());
    Describe(page, "tarn_engine_start_time_seconds", "gauge",
             "Time the engine last started, in Unix time; 0 before its first start.");
    page.Format("tarn_engine_start_time_seconds %.3f\n", Telemetry_EngineStartTime());
    Describe(page, "tarn_build_info", "gauge", "The launcher's version and architecture; always 1.");
    page.Format("tarn_build_info{version=\"%s\",arch=\"%s\"} 1\n", TARN_VERSION, kArch);
}

}  // namespace

size_t Metrics_WritePage(char* out, size_t size)
{
    // Anything that does not fit spoils the whole page rather than cutting
    // a line.
    TextBuilder page(out, size);
    for (const HistogramText& histogram : kHistograms)
        AddHistogram(page, histogram);
    AddCounters(page);
    AddGauges(page);
    return page.Cut() ? 0 : page.Length();
}
