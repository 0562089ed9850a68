// The metrics endpoint of the real launcher over real sockets: what its
// page counts, what it refuses and when it closes, the starts that a
// -metrics value refuses, and what the real Prometheus makes of it.
#include "http_client.h"
#include "launcher_spawn.h"
#include "monotonic.h"
#include "sdk_sidecar.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The value of a series ("name{labels}") on a page, or -1.
double Value(const std::string& page, const std::string& series)
{
    size_t at = ("\n" + page).find("\n" + series + " ");
    return at == std::string::npos ? -1 : std::stod(page.substr(at + series.size() + 1));
}

// Observations above 32 ms in a histogram of the page.
double Above32ms(const std::string& page, const std::string& histogram)
{
    return Value(page, histogram + "_count") - Value(page, histogram + "_bucket{le=\"0.032\"}");
}

// The frames up to lastFrame that the engine saw start more than 32 ms after
// the one before: the hitches, and any stall of a busy machine.
double LongIntervals(const ServerDir& dir, double lastFrame)
{
    double count = 0;
    for (const std::string& entry : Matching(dir.Log(), "long interval frame="))
        count += std::stod(entry.substr(20)) <= lastFrame;
    return count;
}

// Frames that log nothing, with more in the environment, and the input
// kept open.
RunOptions Quiet(std::vector<std::pair<std::string, std::string>> environment = {})
{
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.environment = std::move(environment);
    options.environment.push_back({"TARN_TEST_QUIET", "1"});
    return options;
}

// A page is served between two frames: every frame is in the engine and
// lateness histograms, every one but the first of a start in the
// intervals; each 50 ms hitch lands above 32 ms and in the sums.
TEST(MetricsEndpointTest, ThePageCountsFramesHitchesLinesAndEngineStarts)
{
    ServerDir dir;
    int port = FreeLoopbackPorts(1);
    RunningServer server(dir, {"-metrics", std::to_string(port)}, Quiet({{"TARN_TEST_HITCH", "50,20"}}));
    server.Type("hello\n");
    ASSERT_TRUE(dir.WaitForLog("hitch", 3));
    std::string page = HttpGet(port, "/metrics");
    double frames = Value(page, "tarn_frames_total"), hitches = std::floor(frames / 20);
    EXPECT_GE(frames, 60) << page;
    EXPECT_EQ(Value(page, "tarn_frame_interval_seconds_count"), frames - 1);
    EXPECT_EQ(Value(page, "tarn_engine_frame_seconds_count"), frames);
    EXPECT_EQ(Value(page, "tarn_pacing_lateness_seconds_count"), frames);
    EXPECT_EQ(Above32ms(page, "tarn_frame_interval_seconds"), LongIntervals(dir, frames));
    EXPECT_GE(LongIntervals(dir, frames), std::floor((frames - 1) / 20));
    EXPECT_EQ(Above32ms(page, "tarn_engine_frame_seconds"), hitches);
    double hitchTime = Value(page, "tarn_engine_frame_seconds_sum");
    EXPECT_TRUE(hitchTime >= 0.05 * hitches && hitchTime < 0.1 * hitches) << hitchTime;
    EXPECT_EQ(Value(page, "tarn_console_lines_total{source=\"console\"}"), 1);
    EXPECT_EQ(Value(page, "tarn_engine_starts_total"), 1);
    EXPECT_NEAR(Value(page, "tarn_start_time_seconds"), static_cast<double>(time(nullptr)), 60);

    server.Type("restart\n");
    ASSERT_TRUE(dir.WaitForLog("initialize", 2));
    page = HttpGet(port, "/metrics");
    EXPECT_EQ(Value(page, "tarn_engine_starts_total"), 2);
    EXPECT_EQ(Value(page, "tarn_frame_interval_seconds_count"), Value(page, "tarn_frames_total") - 2);
    EXPECT_EQ(Value(page, "tarn_console_lines_total{source=\"console\"}"), 2);
    EXPECT_GT(Value(page, "tarn_engine_start_time_seconds"), Value(page, "tarn_start_time_seconds"));
}

// The Content-Length of an answer.
size_t AnnouncedLength(const std::string& answer)
{
    size_t at = answer.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(answer.substr(at + 16));
}

// Each request on a connection of its own, after `silent` connections that
// send nothing: the status line of the answer ("": closed without one), the
// body as announced (none for HEAD), and the connection closed no sooner
// than closedAfter ms and within a second of it.
TEST(MetricsEndpointTest, AnswersEachRequestOnceAndRefusesWhatItDoesNotServe)
{
    ServerDir dir;
    int port = FreeLoopbackPorts(1);
    RunningServer server(dir, {"-metrics", std::to_string(port)}, Quiet());
    ASSERT_TRUE(dir.WaitForLog("initialize"));
    auto head = [](size_t size) {
        std::string start = "GET /metrics HTTP/1.1\r\nX-Pad: ";
        return start + std::string(size - start.size() - 4, 'x') + "\r\n\r\n";
    };
    struct Case { std::string request; int silent; std::string answer; int closedAfter; };
    const Case cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", 0, "HTTP/1.1 200 OK", 0},
        {"HEAD /metrics?x HTTP/1.0\n\n", 0, "HTTP/1.1 200 OK", 0},
        {head(4096), 0, "HTTP/1.1 200 OK", 0},
        {head(4097), 0, "HTTP/1.1 431 Request Header Fields Too Large", 0},
        {head(4 << 20), 0, "HTTP/1.1 431 Request Header Fields Too Large", 0},  // still sending when answered
        {"GET /metricsx HTTP/1.1\r\n\r\n", 0, "HTTP/1.1 404 Not Found", 0},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 0, "HTTP/1.1 405 Method Not Allowed", 0},
        {"GET /metrics HTTP/2\r\n\r\n", 0, "HTTP/1.1 400 Bad Request", 0},
        {"GET /metrics HTTP/1.1\r\nHost: slow\r\n", 0, "", 2000},
        {"GET /metrics HTTP/1.1\r\n\r\n", 4, "HTTP/1.1 503 Service Unavailable", 0},
        {"GET /metrics HTTP/1.1\r\n\r\n", 0, "HTTP/1.1 200 OK", 0},
    };
    for (const Case& c : cases) {
        std::vector<int> silent;
        for (int i = 0; i < c.silent; ++i)
            silent.push_back(ConnectLoopback(port));
        long long start = MonotonicNanoseconds();
        int fd = ConnectLoopback(port);
        ASSERT_EQ(send(fd, c.request.data(), c.request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.request.size()));
        bool closed = false;
        std::string answer = ReadUntilClosed(fd, c.closedAfter + 4000, &closed);
        int elapsed = MillisecondsSince(start);
        EXPECT_TRUE(closed && elapsed >= c.closedAfter - 10 && elapsed < c.closedAfter + 1000)
            << elapsed << " ms: " << c.request;
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.answer) << c.request;
        size_t body = answer.find("\r\n\r\n");
        size_t expected = c.answer.empty() || c.request[0] == 'H' ? 0 : AnnouncedLength(answer);
        EXPECT_EQ(c.answer.empty() ? 0 : answer.size() - body - 4, expected) << c.request;
        for (int peer : silent) {
            ReadUntilClosed(peer, 4000, &closed);
            EXPECT_TRUE(closed && MillisecondsSince(start) >= 1990) << MillisecondsSince(start);
        }
    }
}

// Nothing starts: one line, status 255, no engine.
TEST(MetricsSwitchTest, AValueThatIsNoAddressOrAPortInUseStopsTheStartWith255)
{
    int port = FreeLoopbackPorts(1), busy = LoopbackListener(port);
    std::string p = std::to_string(port);
    auto bad = [](const std::string& value) {
        return "Bad -metrics value (" + value + "): [ADDRESS:]PORT, ADDRESS an IP address, PORT 1 to 65535\n";
    };
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-metrics"}, bad("-lumen")},
        {{"-metrics", p}, "Unable to serve metrics on " + p + " (Address already in use)\n"},
        {{"-metrics", "127.0.0.1:" + p}, "Unable to serve metrics on 127.0.0.1:" + p + " (Address already in use)\n"}};
    for (std::string value : {"x", "0", "65536", "+1", "127.0.0.1", "127.0.0.1:", "localhost:1", "::1:1", "[::1]"})
        cases.push_back({{"-metrics", value}, bad(value)});
    for (const auto& [arguments, out] : cases) {
        ServerDir dir;
        RunResult result = dir.Run(arguments);
        EXPECT_EQ(result.exitStatus, 255) << out;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(dir.Log().size(), 0u) << out;
    }
    close(busy);
}

const char kPrometheus[] = "/usr/bin/prometheus";
const char kPromtool[] = "/usr/bin/promtool";

// Starts program in dir with its output in the file output.
pid_t Spawn(const ServerDir& dir, const char* program, std::vector<std::string> arguments,
            const std::string& output, int input = -1)
{
    Launch launch;
    launch.directory = dir.Path();
    launch.program = program;
    launch.arguments = std::move(arguments);
    launch.input = input;
    launch.output = launch.errors = output;
    return SpawnLauncher(launch);
}

// Prometheus on 127.0.0.1:port in dir, scraping target twice a second,
// with more arguments.
pid_t StartPrometheus(const ServerDir& dir, int port, int target, std::vector<std::string> more = {})
{
    dir.Write("prometheus.yml", "global:\n  scrape_interval: 500ms\nscrape_configs:\n  - job_name: tarn\n"
                                "    static_configs:\n      - targets: ['127.0.0.1:" + std::to_string(target) + "']\n");
    more.insert(more.begin(), {"--config.file=prometheus.yml", "--storage.tsdb.path=data",
                               "--web.listen-address=127.0.0.1:" + std::to_string(port)});
    return Spawn(dir, kPrometheus, more, "prometheus.log");
}

// The answer to an instant query, at a time (Unix seconds) or now.
std::string QueryAnswer(int port, const std::string& expression, double at = 0)
{
    std::string target = "/api/v1/query?query=";
    for (unsigned char c : expression) {
        char escaped[4];
        std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
        target += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escaped);
    }
    return HttpGet(port, target + (at > 0 ? "&time=" + std::to_string(at) : ""));
}

// The time and value of an instant query, at a time (Unix seconds) or now;
// NaN for no result.
std::pair<double, double> Query(int port, const std::string& expression, double at = 0)
{
    std::string body = QueryAnswer(port, expression, at);
    size_t value = body.find("\"value\":[");
    if (value == std::string::npos)
        return {0, NAN};
    return {std::stod(body.substr(value + 9)), std::stod(body.substr(body.find(",\"", value) + 2))};
}

// promtool's checks of a page of the launcher's and of dist/prometheus,
// started together so that they run while Prometheus scrapes.
class PromtoolChecks {
public:
    PromtoolChecks(const ServerDir& dir, int port) : dir_(dir)
    {
        dir.Write("page.txt", HttpGet(port, "/metrics"));
        const std::string dist = TARN_SOURCE_DIR "/dist/prometheus/";
        runs_ = {{"check", "metrics"}, {"check", "config", dist + "prometheus.yml"},
                 {"check", "rules", dist + "rules.yml"},
                 {"test", "rules", TARN_SOURCE_DIR "/tests/dist/prometheus_rules_test.yml"}};
        for (size_t i = 0; i < runs_.size(); ++i) {
            int page = open(dir.File("page.txt").c_str(), O_RDONLY | O_CLOEXEC);
            pids_.push_back(Spawn(dir, kPromtool, runs_[i], "promtool" + std::to_string(i) + ".txt", page));
            close(page);
        }
    }
    // Each check's exit status is 0.
    void Expect() const
    {
        for (size_t i = 0; i < runs_.size(); ++i) {
            int status = -1;
            WaitForExit(pids_[i], 30000, &status);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << runs_[i][1] << ": " << dir_.Read("promtool" + std::to_string(i) + ".txt");
        }
    }

private:
    const ServerDir& dir_;
    std::vector<std::vector<std::string>> runs_;
    std::vector<pid_t> pids_;
};

// Debian's Prometheus scrapes a launcher whose engine hitches for 50 ms
// every 200 frames, twice a second. What it has at one scrape: the frame
// rate the engine itself counted over the 3 s before, within 10%; a 99th
// percentile; one frame interval above 32 ms per hitch completed by then
// (and per stall that the engine saw, on a busy machine). promtool finds no
// fault in a page, nor in the configuration and rules of dist/prometheus,
// and the rules pass their test.
TEST(PrometheusTest, ScrapesTheFrameRateTheQuantilesAndEveryHitch)
{
    if (access(kPrometheus, X_OK) != 0 || access(kPromtool, X_OK) != 0)
        TARN_SKIP("the real Prometheus server", "no prometheus: scripts/deps tests installs it");
    ServerDir dir;
    int port = FreeLoopbackPorts(2), web = port + 1;
    RunningServer server(dir, {"-metrics", std::to_string(port)}, Quiet({{"TARN_TEST_HITCH", "50,200"}}));
    pid_t prometheus = StartPrometheus(dir, web, port);
    PromtoolChecks checks(dir, port);
    EXPECT_TRUE(WaitUntil([&] { return Query(web, "count_over_time(tarn_frames_total[1m])").second >= 7; },
                          60000, 250)) << dir.Read("prometheus.log");
    double at = Query(web, "timestamp(tarn_frames_total)").second;
    double frames = Query(web, "tarn_frames_total", at).second;
    double rate = Query(web, "rate(tarn_frames_total[3s])", at).second;
    std::vector<std::pair<long long, long long>> hitches;  // frame, µs
    for (const std::string& entry : Matching(dir.Log(), "hitch")) {
        long long frame = 0, when = 0;
        if (std::sscanf(entry.c_str(), "hitch frame=%lld at=%lld", &frame, &when) == 2 && frame < frames)
            hitches.push_back({frame, when});
    }
    auto first = std::find_if(hitches.begin(), hitches.end(), [&](auto& h) { return h.second >= (at - 3) * 1e6; });
    ASSERT_TRUE(hitches.end() - first >= 2);
    double engineRate = (hitches.back().first - first->first) * 1e6 / (hitches.back().second - first->second);
    EXPECT_NEAR(rate, engineRate, 0.1 * engineRate);
    EXPECT_TRUE(std::isfinite(
        Query(web, "histogram_quantile(0.99, rate(tarn_frame_interval_seconds_bucket[10s]))", at).second));
    EXPECT_EQ(Query(web, "tarn_frame_interval_seconds_count - ignoring(le) "
                         "tarn_frame_interval_seconds_bucket{le=\"0.032\"}", at).second,
              LongIntervals(dir, frames));
    EXPECT_GE(LongIntervals(dir, frames), static_cast<double>(hitches.size()));
    checks.Expect();
    kill(prometheus, SIGTERM);
    WaitForExit(prometheus, 10000, nullptr);
}

// Prometheus that reads native histograms asks for the protobuf page and
// keeps the frame interval as a native histogram, every interval of the
// scrape in it.
TEST(PrometheusTest, TakesTheFrameIntervalAsANativeHistogramWhenItReadsThem)
{
    if (access(kPrometheus, X_OK) != 0)
        TARN_SKIP("the real Prometheus server", "no prometheus: scripts/deps tests installs it");
    ServerDir dir;
    int port = FreeLoopbackPorts(2), web = port + 1;
    RunningServer server(dir, {"-metrics", std::to_string(port)}, Quiet());
    pid_t prometheus = StartPrometheus(dir, web, port, {"--enable-feature=native-histograms"});
    EXPECT_TRUE(WaitUntil([&] { return QueryAnswer(web, "tarn_frame_interval_seconds").find("\"histogram\":[") !=
                                       std::string::npos; }, 60000, 250)) << dir.Read("prometheus.log");
    double at = Query(web, "timestamp(tarn_frames_total)").second;
    EXPECT_EQ(Query(web, "histogram_count(tarn_frame_interval_seconds)", at).second,
              Query(web, "tarn_frames_total", at).second - 1);
    kill(prometheus, SIGTERM);
    WaitForExit(prometheus, 10000, nullptr);
}

}  // namespace
