// The metrics page as a scraper parses it: each family described once
// before its samples, histograms whose buckets add up to their count, the
// counts of what the telemetry was told, and a page that fits its buffer
// or is not written. The telemetry is the process's own, so the tests look
// at how the page changes across what they do, never at absolute counts.
#include "service/listeners/control_socket.h"
#include "service/listeners/metrics_page.h"
#include "telemetry/telemetry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <time.h>
#include <vector>

namespace {

std::string Page()
{
    char out[kMetricsPageSize];
    size_t length = Metrics_WritePage(out, sizeof(out));
    EXPECT_GT(length, 0u);
    return std::string(out, length);
}

// The page's samples by series ("name{labels}").
std::map<std::string, double> Samples(const std::string& page)
{
    std::map<std::string, double> samples;
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);)
        if (line[0] != '#')
            samples[line.substr(0, line.rfind(' '))] = std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
    return samples;
}

// An engine start and frames that last the given milliseconds, spread over
// several buckets.
void RunFrames(const std::vector<int>& milliseconds)
{
    Telemetry_Open();
    Telemetry_EngineStarted(0);
    for (int ms : milliseconds) {
        Telemetry_FrameBegins();
        timespec pause{0, ms * 1000000L};
        nanosleep(&pause, nullptr);
        Telemetry_FrameEnds();
    }
}

struct Family { const char* name; const char* type; };
const Family kFamilies[] = {
    {"tarn_frame_interval_seconds", "histogram"}, {"tarn_engine_frame_seconds", "histogram"},
    {"tarn_pacing_lateness_seconds", "histogram"}, {"tarn_frames_total", "counter"},
    {"tarn_engine_starts_total", "counter"}, {"tarn_console_lines_total", "counter"},
    {"tarn_output_dropped_lines_total", "counter"}, {"tarn_control_refused_total", "counter"},
    {"tarn_control_disconnected_total", "counter"}, {"tarn_control_dropped_lines_total", "counter"},
    {"tarn_control_clients", "gauge"},
    {"tarn_start_time_seconds", "gauge"}, {"tarn_engine_start_time_seconds", "gauge"},
    {"tarn_build_info", "gauge"},
};

// A sample of the family: its own name, or a histogram's three series.
bool Belongs(const std::string& series, const Family& family)
{
    std::string name = series.substr(0, series.find('{'));
    if (std::strcmp(family.type, "histogram") != 0)
        return name == family.name;
    for (const char* suffix : {"_bucket", "_sum", "_count"})
        if (name == family.name + std::string(suffix))
            return true;
    return false;
}

TEST(MetricsPageTest, DescribesEachFamilyOnceAndInOrderBeforeItsSamples)
{
    RunFrames({0, 1});
    const std::string page = Page();
    ASSERT_EQ(page.back(), '\n');
    std::istringstream lines(page);
    size_t next = 0;  // of kFamilies
    for (std::string line; std::getline(lines, line);) {
        SCOPED_TRACE(line);
        if (line.rfind("# HELP ", 0) == 0) {
            ASSERT_LT(next, std::size(kFamilies));
            const Family& family = kFamilies[next++];
            EXPECT_EQ(line.rfind("# HELP " + std::string(family.name) + " ", 0), 0u);
            ASSERT_TRUE(std::getline(lines, line));
            EXPECT_EQ(line, "# TYPE " + std::string(family.name) + " " + family.type);
        } else {
            ASSERT_GT(next, 0u) << "a sample before any family";
            EXPECT_TRUE(Belongs(line.substr(0, line.rfind(' ')), kFamilies[next - 1]));
        }
    }
    EXPECT_EQ(next, std::size(kFamilies));
}

TEST(MetricsPageTest, EachHistogramsBucketsAreCumulativeAndEndInTheCount)
{
    RunFrames({0, 1, 3, 9, 0});
    const std::string page = Page();
    for (const Family& family : kFamilies) {
        if (std::strcmp(family.type, "histogram") != 0)
            continue;
        SCOPED_TRACE(family.name);
        const std::string bucket = family.name + std::string("_bucket{le=\"");
        std::vector<std::string> bounds;
        std::vector<double> counts;
        std::istringstream lines(page);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(bucket, 0) == 0) {
                bounds.push_back(line.substr(bucket.size(), line.find('"', bucket.size()) - bucket.size()));
                counts.push_back(std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr));
            }
        ASSERT_EQ(bounds.size(), static_cast<size_t>(kFrameBuckets + 1));
        EXPECT_EQ(bounds.back(), "+Inf");
        for (int i = 0; i < kFrameBuckets; ++i)
            EXPECT_EQ(std::strtod(bounds[i].c_str(), nullptr), kFrameBucketBounds[i]);
        for (size_t i = 1; i < counts.size(); ++i)
            EXPECT_LE(counts[i - 1], counts[i]) << "le=" << bounds[i];
        std::map<std::string, double> samples = Samples(page);
        EXPECT_EQ(samples[family.name + std::string("_count")], counts.back());
        EXPECT_GT(counts.back(), 0);
        EXPECT_GT(samples[family.name + std::string("_sum")], 0);
    }
}

TEST(MetricsPageTest, CountsWhatTheTelemetryWasTold)
{
    RunFrames({});
    std::map<std::string, double> before = Samples(Page());
    RunFrames({0, 2, 0, 0});
    Telemetry_LineTyped(LineSource::kControl);
    Telemetry_LineTyped(LineSource::kControl);
    Telemetry_LineTyped(LineSource::kConsole);
    std::map<std::string, double> after = Samples(Page());
    struct Row { const char* series; double change; };
    const Row rows[] = {
        {"tarn_frames_total", 4},
        {"tarn_engine_starts_total", 1},
        {"tarn_engine_frame_seconds_count", 4},
        {"tarn_engine_frame_seconds_bucket{le=\"+Inf\"}", 4},
        {"tarn_frame_interval_seconds_count", 3},  // the first frame has none
        {"tarn_pacing_lateness_seconds_count", 4},
        {"tarn_console_lines_total{source=\"control\"}", 2},
        {"tarn_console_lines_total{source=\"console\"}", 1},
        {"tarn_control_refused_total", 0},  // the control socket's own test counts them
        {"tarn_control_disconnected_total", 0},
        {"tarn_control_dropped_lines_total", 0},
        {"tarn_output_dropped_lines_total", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.series);
        ASSERT_EQ(before.count(row.series), 1u);
        EXPECT_EQ(after[row.series] - before[row.series], row.change);
    }
    EXPECT_EQ(after["tarn_control_clients"], Control_Counts().attached);
    EXPECT_GE(after["tarn_engine_start_time_seconds"], after["tarn_start_time_seconds"]);
    EXPECT_GT(after["tarn_engine_frame_seconds_sum"], before["tarn_engine_frame_seconds_sum"]);
}

TEST(MetricsPageTest, WritesThePageWhereItFitsWithItsNulAndNothingElsewhere)
{
    RunFrames({0});
    const std::string page = Page();
    for (size_t size : {page.size() + 1, page.size(), size_t{1}, size_t{0}}) {
        SCOPED_TRACE(size);
        std::string out(page.size() + 16, '@');
        size_t length = Metrics_WritePage(&out[0], size);
        EXPECT_EQ(length, size > page.size() ? page.size() : 0);
        if (length > 0) {
            EXPECT_EQ(out.substr(0, length + 1), page + '\0');
        }
        EXPECT_EQ(out.substr(size), std::string(out.size() - size, '@'));
    }
}

}  // namespace
