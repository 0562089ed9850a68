#include "telemetry_cost.h"

#include "control_clients.h"
#include "floor.h"
#include "http_client.h"
#include "launcher_run.h"
#include "service/listeners/metrics_page.h"
#include "service/listeners/metrics_proto_page.h"
#include "supervisors_on.h"
#include "telemetry/cycle_clock.h"
#include "telemetry/telemetry.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <time.h>

namespace {

const long kCalls = 20000000;
const long kFlatOutFrames = 1000000;
const char* const kMeasures[] = {"tarn_frame_interval_seconds", "tarn_engine_frame_seconds",
                                 "tarn_pacing_lateness_seconds"};

template <typename Call>
double NanosecondsPerCall(Call call)
{
    long long start = MonotonicNanoseconds();
    for (long i = 0; i < kCalls; ++i)
        call();
    return static_cast<double>(MonotonicNanoseconds() - start) / kCalls;
}

double ClockNanoseconds(clockid_t clock)
{
    volatile long sink = 0;
    return NanosecondsPerCall([&] {
        timespec now;
        clock_gettime(clock, &now);
        sink = now.tv_nsec;
    });
}

// Asks for /metrics every 100 ms from a thread of the benchmark's own,
// keeping the last page, until it is destroyed.
class Scraper {
public:
    explicit Scraper(int port) : port_(port), thread_([this] { Run(); }) {}
    ~Scraper()
    {
        stop_ = true;
        thread_.join();
    }
    std::string LastPage()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return page_;
    }
    long Scrapes() const { return scrapes_; }

private:
    void Run()
    {
        while (!stop_) {
            std::string page = HttpGet(port_, "/metrics");
            if (!page.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                page_ = page;
                ++scrapes_;
            }
            timespec pause{0, 100000000};
            nanosleep(&pause, nullptr);
        }
    }

    int port_;
    std::atomic<bool> stop_{false};
    std::atomic<long> scrapes_{0};
    std::mutex mutex_;
    std::string page_;
    std::thread thread_;
};

LaunchSetup Strategy(int strategy, const std::string& program = "")
{
    LaunchSetup setup;
    setup.program = program;
    setup.arguments = {"-pingboost", std::to_string(strategy)};
    return setup;
}

LaunchSetup WithMetrics(LaunchSetup setup, int port)
{
    setup.arguments.push_back("-metrics");
    setup.arguments.push_back(std::to_string(port));
    return setup;
}

void ClockSection(std::ofstream& csv)
{
    volatile uint64_t sink = 0;
    double cycles = NanosecondsPerCall([&] { sink = CycleClock_Read(); });
    double monotonic = ClockNanoseconds(CLOCK_MONOTONIC), coarse = ClockNanoseconds(CLOCK_MONOTONIC_COARSE);
    Telemetry_Open();
    Telemetry_EngineStarted(1);
    double hooks = NanosecondsPerCall([] {
        Telemetry_FrameBegins();
        Telemetry_FrameEnds();
    });
    std::printf("| cycle counter | CLOCK_MONOTONIC | CLOCK_MONOTONIC_COARSE | the two telemetry calls of a frame |\n|---|---|---|---|\n");
    std::printf("| %.1f | %.1f | %.1f | %.1f |\n", cycles, monotonic, coarse, hooks);
    csv << "clock_ns,cycle_counter," << cycles << "\nclock_ns,monotonic," << monotonic << "\nclock_ns,coarse,"
        << coarse << "\nhooks_ns,telemetry," << hooks << "\n";
}

// The metrics endpoint's two pages, as the frames of the section before
// left the telemetry: their sizes, and what writing each costs a scrape
// (the best of five means of 1000 writes).
void PageSection(std::ofstream& csv)
{
    static char text[kMetricsPageSize], proto[kMetricsProtoPageSize];
    struct Page { const char* name; size_t (*write)(char*, size_t); char* out; size_t size; };
    const Page pages[] = {{"text", Metrics_WritePage, text, sizeof(text)},
                          {"protobuf", Metrics_WriteProtoPage, proto, sizeof(proto)}};
    std::printf("\n| metrics page | bytes | µs to write |\n|---|---|---|\n");
    for (const Page& page : pages) {
        size_t length = 0;
        double best = 1e18;
        for (int round = 0; round < 5; ++round) {
            long long start = MonotonicNanoseconds();
            for (int i = 0; i < 1000; ++i)
                length = page.write(page.out, page.size);
            best = std::min(best, static_cast<double>(MonotonicNanoseconds() - start) / 1000 / 1000);
        }
        std::printf("| %s | %zu | %.1f |\n", page.name, length, best);
        csv << "page_bytes," << page.name << "," << length << "\npage_write_us," << page.name << "," << best << "\n";
    }
}

// Strategy 3 flat out, best of five: the build before the telemetry, this
// one with nothing on, and this one with every feature on (the supervisors,
// consoles attached to the control socket before the measured frames, the
// metrics endpoint scraped every 100 ms).
void FlatOutSection(std::ofstream& csv, const std::string& baseline)
{
    constexpr long kConsoleWarmup = 200000;
    SupervisorsOn supervisors;
    IdleConsoles consoles;
    int port = FreeLoopbackPorts(1);
    Scraper scraper(port);
    LaunchSetup setups[3] = {Strategy(3, baseline), Strategy(3),
                             consoles.With(WithMetrics(supervisors.With(Strategy(3)), port), kConsoleWarmup)};
    for (LaunchSetup& setup : setups)
        setup.environment.push_back({"BENCH_NET_SLEEP", "none"});
    double wall[3] = {1e18, 1e18, 1e18}, cpu[3] = {1e18, 1e18, 1e18}, barePoll = 1e18;
    for (int run = 0; run < 5; ++run) {
        for (int i = baseline.empty() ? 1 : 0; i < 3; ++i) {
            PacingFigures figures =
                i < 2 ? RunLauncher(setups[i], kFlatOutFrames)
                      : RunLauncher(setups[i], kFlatOutFrames,
                                    [&consoles] { consoles.Attend(kConsoleWarmup, kFlatOutFrames); });
            wall[i] = std::min(wall[i], 1e9 / figures.framesPerSecond);
            cpu[i] = std::min(cpu[i], figures.cpuMicrosecondsPerFrame * 1000);
        }
        supervisors.TakeDatagrams();
        barePoll = std::min(barePoll, BareEngineLoopNanoseconds(BENCH_ENGINE, kFlatOutFrames, true));
    }
    std::printf("\n| strategy 3 flat out, best of five | wall ns per frame | beyond the console poll (%.0f ns), ns | CPU ns per frame |\n|---|---|---|---|\n", barePoll);
    const char* const names[3] = {"before the telemetry", "telemetry, nothing else on",
                                  supervisors.Live() ? "every feature on: supervisors, output, 8 consoles, metrics scraped every 100 ms"
                                                     : "8 consoles, metrics scraped every 100 ms (no Agones SDK server here)"};
    for (int i = baseline.empty() ? 1 : 0; i < 3; ++i) {
        std::printf("| %s | %.0f | %.0f | %.0f |\n", names[i], wall[i], wall[i] - barePoll, cpu[i]);
        csv << "flat_out_beyond_poll_ns," << i << "," << wall[i] - barePoll << "\n";
    }
    std::printf("\nThe scraper fetched %ld pages meanwhile.\n", scraper.Scrapes());
}

// The two launchers side by side, five rounds per strategy, the median
// ratio counting; allocations per frame of the new one, scraped.
void FrameRateSection(std::ofstream& csv, const std::string& baseline, long frames)
{
    int port = FreeLoopbackPorts(1);
    Scraper scraper(port);
    std::printf("\n| strategy | fps before | fps with telemetry, scraped | ratio, median (least, most) of five | heap allocations per frame |\n|---|---|---|---|---|\n");
    for (int strategy : {0, 3}) {
        LaunchSetup now = WithMetrics(Strategy(strategy), port);
        now.countAllocations = true;
        std::vector<std::pair<double, std::pair<PacingFigures, PacingFigures>>> rounds;
        double allocations = 0;
        for (int round = 0; round < 5; ++round) {
            auto [before, after] = RunLaunchersTogether(Strategy(strategy, baseline), now, frames);
            rounds.push_back({before.framesPerSecond > 0 ? after.framesPerSecond / before.framesPerSecond : 0, {before, after}});
            allocations = std::max(allocations, after.frames > 0 ? static_cast<double>(after.allocations) / after.frames : -1);
        }
        std::sort(rounds.begin(), rounds.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const auto& [ratio, median] = rounds[2];
        std::printf("| %d | %.0f | %.0f | %.3f (%.3f, %.3f) | %.3f |\n", strategy, median.first.framesPerSecond,
                    median.second.framesPerSecond, ratio, rounds[0].first, rounds[4].first, allocations);
        csv << "fps_ratio," << strategy << "," << ratio << "\nallocations_per_frame," << strategy << "," << allocations << "\n";
    }
    std::printf("\nThe scraper fetched %ld pages meanwhile.\n", scraper.Scrapes());
}

// Bucket counts (not cumulative) of a histogram on a page, +Inf last.
std::vector<double> Buckets(const std::string& page, const std::string& name)
{
    std::vector<double> counts;
    std::istringstream lines(page);
    double before = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name + "_bucket{", 0) != 0)
            continue;
        double cumulative = std::atof(line.substr(line.rfind(' ') + 1).c_str());
        counts.push_back(cumulative - before);
        before = cumulative;
    }
    return counts;
}

// 10000 frames, strategy 0, a 50 ms hitch every 1000, scraped every 100
// ms: the histograms of the last page, for the plot.
void HitchSection(const std::string& directory, const std::string& arch)
{
    int port = FreeLoopbackPorts(1);
    std::string page;
    {
        Scraper scraper(port);
        LaunchSetup setup = WithMetrics(Strategy(0), port);
        setup.environment = {{"BENCH_HITCH", "50,1000"}};
        RunLauncher(setup, 10000);
        page = scraper.LastPage();
    }
    std::ofstream out(directory + "/telemetry-histograms-" + arch + ".txt");
    std::vector<double> counts[3];
    for (int m = 0; m < 3; ++m)
        counts[m] = Buckets(page, kMeasures[m]);
    std::printf("\n| bucket, ms (at most) | frame interval | engine frame | pacing lateness |\n|---|---|---|---|\n");
    for (size_t b = 0; b <= kFrameBuckets && b < counts[0].size() && b < counts[1].size() && b < counts[2].size(); ++b) {
        char bound[16] = "+Inf";
        if (b < kFrameBuckets)
            std::snprintf(bound, sizeof(bound), "%g", kFrameBucketBounds[b] * 1000);
        out << '"' << bound << "\" " << counts[0][b] << ' ' << counts[1][b] << ' ' << counts[2][b] << '\n';
        std::printf("| %s | %.0f | %.0f | %.0f |\n", bound, counts[0][b], counts[1][b], counts[2][b]);
    }
}

}  // namespace

void TelemetrySection(const std::string& directory, const std::string& arch)
{
    std::printf("\n### Frame telemetry (%s)\n\n", arch.c_str());
    if (arch != "x86-64") {
        std::printf("Measured on x86-64 only: the i386 programs run under an emulator on this machine.\n");
        return;
    }
    const char* baseline = std::getenv("TARN_BENCH_BASELINE");
    std::string before = baseline && *baseline ? baseline : "";
    std::ofstream csv(directory + "/telemetry-" + arch + ".csv");
    ClockSection(csv);
    PageSection(csv);
    FlatOutSection(csv, before);
    if (before.empty())
        std::printf("\nNo build before the telemetry (TARN_BENCH_BASELINE): no side-by-side frame rate.\n");
    else
        FrameRateSection(csv, before, 3000);
    HitchSection(directory, arch);
}
