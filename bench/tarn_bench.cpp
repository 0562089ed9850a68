// The launcher's frame loop against the system's floor, for every pacing
// strategy: frame rate, frame intervals, processor time, system calls and
// heap allocations per frame, the launcher's own cost per frame, the timer
// slack setting and the console's keystroke latency. Prints markdown and
// writes a CSV (and the frame intervals, for plotting) into the directory
// given as the first argument.
#include "floor.h"
#include "launcher_run.h"
#include "query_rtt.h"
#include "stop_latency.h"
#include "pty_job.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const char* const kStrategyNames[] = {"0 usleep", "1 interval timer", "2 select", "3 engine network sleep"};
long s_frames = 3000;

struct Report {
    std::ofstream csv;
    std::string arch;
    std::string directory;

    void Row(const std::string& section, int strategy, const std::string& metric, double value)
    {
        csv << arch << ',' << section << ',' << strategy << ',' << metric << ',' << value << '\n';
    }
    void Figures(const std::string& section, int strategy, const PacingFigures& f)
    {
        Row(section, strategy, "fps", f.framesPerSecond);
        Row(section, strategy, "p50_us", f.p50Microseconds);
        Row(section, strategy, "p99_us", f.p99Microseconds);
        Row(section, strategy, "max_us", f.maxMicroseconds);
        Row(section, strategy, "cpu_us_per_frame", f.cpuMicrosecondsPerFrame);
        std::ofstream intervals(directory + "/intervals-" + arch + "-" + section + "-" +
                                std::to_string(strategy) + ".txt");
        for (long long interval : f.intervals)
            intervals << interval / 1000.0 << '\n';
    }
};

LaunchSetup Strategy(int strategy)
{
    LaunchSetup setup;
    setup.arguments = {"-pingboost", std::to_string(strategy)};
    return setup;
}

void PacingSection(Report& report)
{
    std::printf("\n### Frame pacing (%s): launcher with a no-op engine against the bare system call\n\n", report.arch.c_str());
    std::printf("| strategy | floor fps | launcher fps | launcher / floor | floor p50 / p99 / max µs | launcher p50 / p99 / max µs | CPU µs per frame, floor / launcher | heap allocations per frame |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (int strategy = 0; strategy < 4; ++strategy) {
        PacingFigures floor = FloorOfStrategy(strategy, s_frames, BENCH_ENGINE);
        LaunchSetup setup = Strategy(strategy);
        setup.countAllocations = true;
        PacingFigures launcher = RunLauncher(setup, s_frames);
        double ratio = floor.framesPerSecond > 0 ? launcher.framesPerSecond / floor.framesPerSecond : 0;
        double allocations = launcher.frames > 0 ? static_cast<double>(launcher.allocations) / launcher.frames : -1;
        std::printf("| %s | %.0f | %.0f | %.1f%% | %.0f / %.0f / %.0f | %.0f / %.0f / %.0f | %.1f / %.1f | %.3f |\n",
                    kStrategyNames[strategy], floor.framesPerSecond, launcher.framesPerSecond, ratio * 100,
                    floor.p50Microseconds, floor.p99Microseconds, floor.maxMicroseconds,
                    launcher.p50Microseconds, launcher.p99Microseconds, launcher.maxMicroseconds,
                    floor.cpuMicrosecondsPerFrame, launcher.cpuMicrosecondsPerFrame, allocations);
        report.Figures("floor", strategy, floor);
        report.Figures("launcher", strategy, launcher);
        report.Row("launcher", strategy, "ratio_to_floor", ratio);
        report.Row("launcher", strategy, "allocations_per_frame", allocations);
    }
}

// The launcher asks for 1 ns timer slack; the bare loops show what that
// setting does to each strategy against the kernel's default of 50 µs.
void TimerSlackSection(Report& report)
{
    std::printf("\n### Timer slack (%s): the bare system calls with the default 50 µs and with 1 ns\n\n", report.arch.c_str());
    std::printf("| strategy | 50 µs: fps, p50 / p99 µs, CPU µs per frame | 1 ns: fps, p50 / p99 µs, CPU µs per frame |\n|---|---|---|\n");
    for (int strategy = 0; strategy < 4; ++strategy) {
        prctl(PR_SET_TIMERSLACK, 50000);
        PacingFigures standard = FloorOfStrategy(strategy, s_frames, BENCH_ENGINE);
        prctl(PR_SET_TIMERSLACK, 1);
        PacingFigures minimal = FloorOfStrategy(strategy, s_frames, BENCH_ENGINE);
        std::printf("| %s | %.0f, %.0f / %.0f, %.1f | %.0f, %.0f / %.0f, %.1f |\n", kStrategyNames[strategy],
                    standard.framesPerSecond, standard.p50Microseconds, standard.p99Microseconds,
                    standard.cpuMicrosecondsPerFrame, minimal.framesPerSecond, minimal.p50Microseconds,
                    minimal.p99Microseconds, minimal.cpuMicrosecondsPerFrame);
        report.Figures("slack_50us", strategy, standard);
        report.Figures("slack_1ns", strategy, minimal);
    }
}

void OwnCostSection(Report& report)
{
    // Best of five runs each: the least disturbed run shows the cost itself.
    const long frames = 1000000;
    LaunchSetup setup = Strategy(3);
    setup.environment = {{"BENCH_NET_SLEEP", "none"}};
    double launcherNs = 1e18, bare = 1e18, barePoll = 1e18;
    PacingFigures launcher;
    for (int run = 0; run < 5; ++run) {
        PacingFigures figures = RunLauncher(setup, frames);
        if (figures.framesPerSecond > 0 && 1e9 / figures.framesPerSecond < launcherNs) {
            launcher = figures;
            launcherNs = 1e9 / figures.framesPerSecond;
        }
        bare = std::min(bare, BareEngineLoopNanoseconds(BENCH_ENGINE, frames, false));
        barePoll = std::min(barePoll, BareEngineLoopNanoseconds(BENCH_ENGINE, frames, true));
    }
    std::printf("\n### The launcher's own cost per frame (%s): strategy 3, an engine sleep that returns at once\n\n", report.arch.c_str());
    std::printf("| launcher fps | launcher ns per frame | bare loop ns per frame | bare loop with the console's poll, ns | launcher beyond the poll, ns |\n|---|---|---|---|---|\n");
    std::printf("| %.0f | %.0f | %.0f | %.0f | %.0f |\n", launcher.framesPerSecond, launcherNs, bare, barePoll,
                launcherNs - barePoll);
    report.Row("own_cost", 3, "launcher_ns", launcherNs);
    report.Row("own_cost", 3, "bare_ns", bare);
    report.Row("own_cost", 3, "bare_with_poll_ns", barePoll);
    report.Row("own_cost", 3, "beyond_poll_ns", launcherNs - barePoll);
}

void SyscallSection(Report& report)
{
    std::printf("\n### System calls per idle frame (%s), counted by strace\n\n| strategy | calls per frame | by call |\n|---|---|---|\n", report.arch.c_str());
    for (int strategy = 0; strategy < 4; ++strategy) {
        std::map<std::string, double> calls = SyscallsPerFrame(Strategy(strategy));
        double total = 0;
        std::string detail;
        for (const auto& [name, count] : calls) {
            total += count;
            char item[96];
            std::snprintf(item, sizeof(item), "%s%s %.2f", detail.empty() ? "" : ", ", name.c_str(), count);
            detail += item;
            report.Row("syscalls", strategy, name, count);
        }
        std::printf("| %s | %.2f | %s |\n", kStrategyNames[strategy], total, detail.c_str());
    }
}

struct Shared {
    volatile long frame;
    volatile long submittedAtFrame;
    volatile long submissions;
};

// Frames from a keystroke to the engine receiving the line, over a real
// pseudo-terminal.
std::vector<long long> KeystrokeLatency(int strategy, int samples)
{
    ServerDir dir(BENCH_ENGINE);
    std::string sharedPath = dir.File("shared");
    dir.Write("shared", std::string(4096, '\0'));
    int fd = open(sharedPath.c_str(), O_RDWR);
    auto* shared = static_cast<Shared*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
    PtyOptions options;
    options.environment = {{"BENCH_SHM", sharedPath}, {"BENCH_FRAMES", "100000000"},
                           {"BENCH_NET_SLEEP", "socket"}};
    PtyJob job(dir, {"-pingboost", std::to_string(strategy)}, options);
    std::vector<long long> latencies;
    if (!job.WaitRaw())
        return latencies;
    for (int i = 0; i < samples; ++i) {
        long before = shared->submissions;
        long typedAt = shared->frame;
        job.Type("x\r");
        for (int wait = 0; wait < 20000 && shared->submissions == before; ++wait)
            usleep(50);
        latencies.push_back(shared->submittedAtFrame - typedAt);
        job.ReadFor(2);
    }
    kill(job.Launcher(), SIGTERM);
    job.NextEvent();
    munmap(shared, 4096);
    return latencies;
}

void ConsoleSection(Report& report)
{
    std::printf("\n### Console: keystroke to engine, in frames (%s), 200 lines typed on a pseudo-terminal\n\n| strategy | p50 | p99 | max |\n|---|---|---|---|\n", report.arch.c_str());
    for (int strategy = 0; strategy < 4; ++strategy) {
        std::vector<long long> latencies = KeystrokeLatency(strategy, 200);
        std::sort(latencies.begin(), latencies.end());
        std::printf("| %s | %.0f | %.0f | %.0f |\n", kStrategyNames[strategy], Percentile(latencies, 50),
                    Percentile(latencies, 99), latencies.empty() ? 0.0 : static_cast<double>(latencies.back()));
        report.Row("keystroke_frames", strategy, "p50", Percentile(latencies, 50));
        report.Row("keystroke_frames", strategy, "p99", Percentile(latencies, 99));
    }
}

void QuerySection(Report& report)
{
    std::printf("\n### Query round trip on loopback (%s): the reference server against a blocking echo server, 2000 pings one after the other\n\n", report.arch.c_str());
    std::printf("| server | p50 µs | p99 µs | p50 / echo floor |\n|---|---|---|---|\n");
    std::vector<long long> floor = EchoServerRoundTrips(2000);
    std::sort(floor.begin(), floor.end());
    double floorP50 = Percentile(floor, 50) / 1000.0;
    std::printf("| blocking recvfrom echo (floor) | %.1f | %.1f | 1.00 |\n", floorP50, Percentile(floor, 99) / 1000.0);
    report.Row("query_rtt", -1, "p50_us", floorP50);
    report.Row("query_rtt", -1, "p99_us", Percentile(floor, 99) / 1000.0);
    for (int strategy = 0; strategy < 4; ++strategy) {
        std::vector<long long> trips = ReferenceServerRoundTrips(strategy, 2000);
        std::sort(trips.begin(), trips.end());
        double p50 = Percentile(trips, 50) / 1000.0;
        std::printf("| launcher, -pingboost %s | %.1f | %.1f | %.2f |\n", kStrategyNames[strategy], p50,
                    Percentile(trips, 99) / 1000.0, floorP50 > 0 ? p50 / floorP50 : 0);
        report.Row("query_rtt", strategy, "p50_us", p50);
        report.Row("query_rtt", strategy, "p99_us", Percentile(trips, 99) / 1000.0);
        report.Row("query_rtt", strategy, "answered", static_cast<double>(trips.size()));
    }
}

}  // namespace

void StopSection(Report& report)
{
    constexpr int kStops = 20;
    std::vector<long long> latencies = StopLatencies(kStops);
    std::printf("\n### Stop latency (%s): SIGTERM to the end of the process, a no-op engine\n\n", report.arch.c_str());
    if (latencies.empty()) {
        std::printf("No stop could be measured.\n");
        return;
    }
    double p50 = Percentile(latencies, 50) / 1e6;
    double max = latencies.back() / 1e6;
    std::printf("| stops | p50 ms | max ms |\n|---|---|---|\n| %zu of %d | %.2f | %.2f |\n",
                latencies.size(), kStops, p50, max);
    report.Row("stop", 0, "p50_ms", p50);
    report.Row("stop", 0, "max_ms", max);
}

int main(int argc, char** argv)
{
    // The floors run with the timer slack the launcher sets for itself.
    prctl(PR_SET_TIMERSLACK, 1);
    Report report;
    report.directory = argc > 1 ? argv[1] : ".";
    report.arch = sizeof(void*) == 8 ? "x86-64" : "i386";
    if (argc > 2)
        s_frames = std::atol(argv[2]);
    report.csv.open(report.directory + "/results-" + report.arch + ".csv");
    // A third argument runs one section only: pacing, slack, cost,
    // syscalls, query, console or stop.
    std::string only = argc > 3 ? argv[3] : "";
    const std::pair<const char*, void (*)(Report&)> sections[] = {
        {"pacing", PacingSection}, {"slack", TimerSlackSection}, {"cost", OwnCostSection},
        {"syscalls", SyscallSection}, {"query", QuerySection}, {"console", ConsoleSection},
        {"stop", StopSection}};
    for (const auto& [name, run] : sections)
        if (only.empty() || only == name)
            run(report);
    return 0;
}
