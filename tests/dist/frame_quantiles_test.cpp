// What the real Prometheus makes of frames whose exact quantiles are known:
// frame feeders (tests/fixtures/frame_feeder.cpp) serve the telemetry of
// the cases of frame_cycles.h, Prometheus scrapes them four times a second
// and evaluates the shipped rules, and their figures are held against the
// exact ones. TARN_PROMETHEUS_CLASSIC=1 runs Prometheus without native
// histograms and only prints the figures; TARN_FRAME_QUANTILES_CSV=FILE
// writes the quantiles of a changing hitch schedule over time for the plot
// of scripts/frame-quantiles-plot.
#include "file_text.h"
#include "frame_cycles.h"
#include "http_client.h"
#include "launcher_spawn.h"
#include "monotonic.h"
#include "sdk_sidecar.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kPrometheus[] = "/usr/bin/prometheus";

// The frame feeders of some cases and a Prometheus that scrapes them as job
// "tarn", each target labelled with its case, and evaluates the shipped
// rules, all in a directory of their own; stopped at the end.
class Scraped {
public:
    explicit Scraped(const std::vector<const char*>& cases)
        : dir_("", ""), port_(FreeLoopbackPorts(static_cast<int>(cases.size()) + 1))
    {
        std::string targets;
        for (size_t i = 0; i < cases.size(); ++i) {
            std::string port = std::to_string(port_ + 1 + static_cast<int>(i));
            feeders_.push_back("feeder-" + std::string(cases[i]));
            pids_.push_back(Start(TARN_FRAME_FEEDER_PATH, {cases[i], port}, feeders_.back()));
            targets += "      - {targets: ['127.0.0.1:" + port + "'], labels: {case: " + cases[i] + "}}\n";
        }
        dir_.Write("rules.yml", ReadFile(TARN_SOURCE_DIR "/dist/prometheus/rules.yml"));
        dir_.Write("prometheus.yml", "global: {scrape_interval: 250ms, evaluation_interval: 250ms}\n"
                                     "rule_files: [rules.yml]\nscrape_configs:\n  - job_name: tarn\n"
                                     "    static_configs:\n" + targets);
        std::vector<std::string> arguments = {"--config.file=prometheus.yml", "--storage.tsdb.path=data",
                                              "--web.listen-address=127.0.0.1:" + std::to_string(port_)};
        if (!Classic())
            arguments.push_back("--enable-feature=native-histograms");
        pids_.push_back(Start(kPrometheus, arguments, "prometheus"));
    }
    ~Scraped()
    {
        for (pid_t pid : pids_) {
            kill(pid, SIGTERM);
            WaitForExit(pid, 10000, nullptr);
        }
    }

    static bool Classic() { return std::getenv("TARN_PROMETHEUS_CLASSIC") != nullptr; }

    // The body of the answer to an instant query at a time (Unix seconds),
    // or now.
    std::string Query(const std::string& expression, double at = 0) const
    {
        std::string target = "/api/v1/query?query=";
        for (unsigned char c : expression) {
            char escaped[4];
            std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
            target += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escaped);
        }
        char time[32];
        std::snprintf(time, sizeof(time), "&time=%.3f", at);
        return HttpGet(port_, target + (at > 0 ? time : ""));
    }

    // The value of the first series of an instant query; NaN for none.
    double Value(const std::string& expression, double at = 0) const
    {
        std::string body = Query(expression, at);
        size_t value = body.find("\"value\":[");
        return value == std::string::npos ? NAN : std::stod(body.substr(body.find(",\"", value) + 2));
    }

    // The samples (time, value) of the first series of a range selector.
    std::vector<std::pair<double, double>> Samples(const std::string& selector, double at) const
    {
        std::string body = Query(selector, at);
        std::vector<std::pair<double, double>> samples;
        size_t values = body.find("\"values\":["), end = body.find("]]", values);
        for (size_t open = values + 10; values != std::string::npos && (open = body.find('[', open + 1)) < end;)
            samples.push_back({std::stod(body.substr(open + 1)), std::stod(body.substr(body.find(",\"", open) + 2))});
        return samples;
    }

    // What Prometheus and the feeders printed.
    std::string Logs() const
    {
        std::string logs = dir_.Read("prometheus");
        for (const std::string& feeder : feeders_)
            logs += feeder + ": " + dir_.Read(feeder) + "\n";
        return logs;
    }

private:
    pid_t Start(const char* program, std::vector<std::string> arguments, const std::string& output) const
    {
        Launch launch;
        launch.directory = dir_.Path();
        launch.program = program;
        launch.arguments = std::move(arguments);
        launch.output = launch.errors = output;
        return SpawnLauncher(launch);
    }

    ServerDir dir_;
    int port_;
    std::vector<std::string> feeders_;  // their output files
    std::vector<pid_t> pids_;
};

// The evaluation of the rules that the figures come from: the last one,
// once every case's target has been scraped at least eight times within the
// rules' minute; 0 before.
double RulesReady(const Scraped& scraped, size_t cases)
{
    double at = scraped.Value("min(timestamp(tarn:engine_frame_seconds:p99_1m))");
    auto all = static_cast<double>(cases);
    if (!(at > 0) || scraped.Value("count(tarn:frame_interval_seconds:p50_1m)", at) != all ||
        scraped.Value("count(count_over_time(tarn_frames_total[1m]) >= 8)", at) != all)
        return 0;
    return at;
}

// A quantile that the shipped rules record, or that is queried in their form.
struct Figure {
    const char* feederCase;
    const char* measure;  // "frame_interval" or "engine_frame"
    double q;
    const char* rule;     // the recording rule's suffix; null: the query
    double tolerance;     // of the error, relative to the exact quantile
};

const Figure kFigures[] = {
    {"paced", "frame_interval", 0.5, "p50", 0.05},       {"paced", "frame_interval", 0.9, "p90", 0.05},
    {"paced", "frame_interval", 0.99, "p99", 0.05},      {"engine8ms", "frame_interval", 0.5, "p50", 0.05},
    {"engine8ms", "frame_interval", 0.9, "p90", 0.05},   {"engine8ms", "frame_interval", 0.99, "p99", 0.05},
    {"engine8ms", "engine_frame", 0.5, "p50", 0.05},     {"engine8ms", "engine_frame", 0.9, "p90", 0.05},
    {"engine8ms", "engine_frame", 0.99, "p99", 0.05},    {"hitches", "frame_interval", 0.5, "p50", 0.05},
    {"hitches", "frame_interval", 0.995, nullptr, 0.10},
};

double Reported(const Scraped& scraped, const Figure& figure, double at)
{
    std::string name = std::string(figure.measure) + "_seconds";
    std::string label = "case=\"" + std::string(figure.feederCase) + "\"";
    if (figure.rule)
        return scraped.Value("tarn:" + name + ":" + figure.rule + "_1m{" + label + "}", at);
    std::string q = std::to_string(figure.q), window = "{job=\"tarn\"," + label + "}[1m]))";
    return scraped.Value("histogram_quantile(" + q + ", rate(tarn_" + name + window + " or histogram_quantile(" +
                         q + ", rate(tarn_" + name + "_bucket" + window, at);
}

double Exact(const Figure& figure)
{
    FeederCase feederCase{};
    FeederCase_Parse(figure.feederCase, feederCase);
    return ExactQuantile(feederCase, {{HitchEvery(feederCase, 0), 1}}, figure.measure[0] == 'e', figure.q);
}

const char* Architecture()
{
    return sizeof(void*) == 8 ? "x86-64" : "i386";
}

// The shipped rules in a real Prometheus: the quantiles of 1 ms pacing, of
// an 8 ms engine and of 50 ms hitches every 100 frames, against the exact
// ones, on one line.
TEST(FrameQuantilesTest, TheShippedRulesGiveEachCaseItsExactQuantilesWithinTheirBounds)
{
    if (access(kPrometheus, X_OK) != 0)
        TARN_SKIP("the real Prometheus server", "no prometheus: scripts/deps tests installs it");
    Scraped scraped({"paced", "engine8ms", "hitches"});
    double at = 0;
    ASSERT_TRUE(WaitUntil([&] { return (at = RulesReady(scraped, 3)) > 0; }, 90000, 250)) << scraped.Logs();
    std::string line = std::string("Frame quantiles, ") + Architecture() +
                       (Scraped::Classic() ? ", classic buckets" : ", native histograms") +
                       " (Prometheus/exact ms, error):";
    for (const Figure& figure : kFigures) {
        double reported = Reported(scraped, figure, at), exact = Exact(figure), error = reported / exact - 1;
        char entry[128];
        std::snprintf(entry, sizeof(entry), " %s %s p%g %.4f/%.4f %+.1f%%;", figure.feederCase,
                      figure.measure[0] == 'e' ? "engine" : "interval", figure.q * 100, reported * 1000,
                      exact * 1000, error * 100);
        line += entry;
        EXPECT_TRUE(Scraped::Classic() || std::fabs(error) <= figure.tolerance) << entry;
    }
    std::printf("%s\n", line.c_str());
}

// The exact nearest-rank quantile q of the intervals between two scrapes
// of the changing case that had counted frames0 and frames1 frames.
double ChangingExact(double frames0, double frames1, double q)
{
    std::vector<std::pair<int, int64_t>> cycles;
    for (auto c = static_cast<int64_t>(frames0) / kCycleFrames; c < static_cast<int64_t>(frames1) / kCycleFrames; ++c) {
        if (cycles.empty() || cycles.back().first != HitchEvery(FeederCase::kChanging, c))
            cycles.push_back({HitchEvery(FeederCase::kChanging, c), 0});
        ++cycles.back().second;
    }
    return ExactQuantile(FeederCase::kChanging, cycles, false, q);
}

// For the plot: p50 and p99 of the interval as the rules record them, and
// the exact ones of the frames in each evaluation's minute, while the hitch
// schedule goes from none to one every 50 frames to one every 200: the 99th
// percentile is a hitch's while they are more than 1% of the frames.
TEST(FrameQuantilesTest, WritesTheQuantilesOfAChangingHitchScheduleOverTime)
{
    const char* csv = std::getenv("TARN_FRAME_QUANTILES_CSV");
    if (!csv || access(kPrometheus, X_OK) != 0)
        TARN_SKIP("the quantiles over time", "TARN_FRAME_QUANTILES_CSV names no file, or no prometheus");
    Scraped scraped({"changing"});
    const double lastFrames = (3 * kChangingPhaseCycles + 600) * kCycleFrames;
    ASSERT_TRUE(WaitUntil([&] { return scraped.Value("tarn_frames_total") >= lastFrames; }, 600000, 1000))
        << scraped.Logs();
    double now = scraped.Value("max(timestamp(tarn:frame_interval_seconds:p99_1m))");
    auto frames = scraped.Samples("tarn_frames_total[10m]", now);
    auto p50 = scraped.Samples("tarn:frame_interval_seconds:p50_1m[10m]", now);
    auto p99 = scraped.Samples("tarn:frame_interval_seconds:p99_1m[10m]", now);
    ASSERT_TRUE(!frames.empty() && p50.size() == p99.size()) << p50.size() << " " << p99.size();
    std::string out = "seconds,prometheus_p50_ms,exact_p50_ms,prometheus_p99_ms,exact_p99_ms\n";
    for (size_t i = 0; i < p50.size(); ++i) {
        double t = p50[i].first, first = -1, last = -1;
        for (const auto& [when, count] : frames)
            if (when >= t - 60 && when <= t) {
                first = first < 0 ? count : first;
                last = count;
            }
        char row[160];
        std::snprintf(row, sizeof(row), "%.3f,%.5f,%.5f,%.5f,%.5f\n", t - frames.front().first, p50[i].second * 1000,
                      ChangingExact(first, last, 0.5) * 1000, p99[i].second * 1000, ChangingExact(first, last, 0.99) * 1000);
        out += row;
    }
    WriteFile(csv, out);
}

}  // namespace
