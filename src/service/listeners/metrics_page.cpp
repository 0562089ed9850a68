#include "service/listeners/metrics_page.h"

#include "output/output.h"
#include "service/listeners/control_socket.h"
#include "telemetry/telemetry.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

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

// Text appended into a fixed buffer; anything that does not fit spoils the
// whole page rather than cutting a line.
class PageText {
public:
    PageText(char* out, size_t size) : out_(out), size_(size) {}

    void Add(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        if (spoiled_)
            return;
        va_list arguments;
        va_start(arguments, format);
        int added = std::vsnprintf(out_ + length_, size_ - length_, format, arguments);
        va_end(arguments);
        if (added < 0 || static_cast<size_t>(added) >= size_ - length_)
            spoiled_ = true;
        else
            length_ += static_cast<size_t>(added);
    }

    // The metric's two comment lines.
    void Describe(const char* name, const char* type, const char* help)
    {
        Add("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
    }

    size_t Length() const { return spoiled_ ? 0 : length_; }

private:
    char* out_;
    size_t size_;
    size_t length_ = 0;
    bool spoiled_ = false;
};

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

void AddHistogram(PageText& page, const HistogramText& text)
{
    const FrameHistogram& histogram = Telemetry_Histogram(text.measure);
    page.Describe(text.name, "histogram", text.help);
    unsigned long long cumulative = 0;
    for (int i = 0; i < kFrameBuckets; ++i) {
        cumulative += histogram.counts[i];
        page.Add("%s_bucket{le=\"%g\"} %llu\n", text.name, kFrameBucketBounds[i], cumulative);
    }
    cumulative += histogram.counts[kFrameBuckets];
    page.Add("%s_bucket{le=\"+Inf\"} %llu\n", text.name, cumulative);
    double rate = Telemetry_TicksPerSecond();
    page.Add("%s_sum %.9f\n", text.name, rate > 0 ? static_cast<double>(histogram.sumTicks) / rate : 0.0);
    page.Add("%s_count %llu\n", text.name, cumulative);
}

void AddCounters(PageText& page)
{
    page.Describe("tarn_frames_total", "counter", "Frames the engine ran.");
    page.Add("tarn_frames_total %llu\n", Count(Telemetry_Frames()));
    page.Describe("tarn_engine_starts_total", "counter", "Engine starts: the first and every restart.");
    page.Add("tarn_engine_starts_total %llu\n", Count(Telemetry_EngineStarts()));
    page.Describe("tarn_console_lines_total", "counter",
                  "Lines handed to the engine, by source: the terminal or standard input, the control socket.");
    page.Add("tarn_console_lines_total{source=\"console\"} %llu\n",
             Count(Telemetry_LinesTyped(LineSource::kConsole)));
    page.Add("tarn_console_lines_total{source=\"control\"} %llu\n",
             Count(Telemetry_LinesTyped(LineSource::kControl)));
    page.Describe("tarn_output_dropped_lines_total", "counter",
                  "Output lines dropped because their reader did not keep up.");
    page.Add("tarn_output_dropped_lines_total %llu\n", Count(Output_DroppedLines()));
    const ControlCounts& control = Control_Counts();
    page.Describe("tarn_control_refused_total", "counter", "Control-socket clients refused.");
    page.Add("tarn_control_refused_total %llu\n", Count(control.refused));
    page.Describe("tarn_control_disconnected_total", "counter",
                  "Control-socket clients the launcher disconnected.");
    page.Add("tarn_control_disconnected_total %llu\n", Count(control.disconnected));
}

void AddGauges(PageText& page)
{
    page.Describe("tarn_control_clients", "gauge", "Control-socket clients attached now.");
    page.Add("tarn_control_clients %llu\n", Count(Control_Counts().attached));
    page.Describe("tarn_start_time_seconds", "gauge", "Start time of the process, in Unix time.");
    page.Add("tarn_start_time_seconds %.3f\n", Telemetry_StartTime());
    page.Describe("tarn_engine_start_time_seconds", "gauge",
                  "Time the engine last started, in Unix time; 0 before its first start.");
    page.Add("tarn_engine_start_time_seconds %.3f\n", Telemetry_EngineStartTime());
    page.Describe("tarn_build_info", "gauge", "The launcher's version and architecture; always 1.");
    page.Add("tarn_build_info{version=\"%s\",arch=\"%s\"} 1\n", TARN_VERSION, kArch);
}

}  // namespace

size_t Metrics_WritePage(char* out, size_t size)
{
    PageText page(out, size);
    for (const HistogramText& histogram : kHistograms)
        AddHistogram(page, histogram);
    AddCounters(page);
    AddGauges(page);
    return page.Length();
}
