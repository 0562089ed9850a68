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
#include "supervisors_on.h"
#include "telemetry_cost.h"

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

const char kHealthPing[] = "Health Ping Received!";

// Frame rate and allocations with every supervisor on against none: the
// two launchers run side by side, five times; the median ratio counts.
void SupervisorPacing(Report& report, SupervisorsOn& supervisors, long& datagrams)
{
    std::printf("| strategy | fps off | fps on | on / off, median (least, most) of five | heap allocations per frame, on |\n|---|---|---|---|---|\n");
    for (int strategy : {0, 3}) {
        LaunchSetup setup = Strategy(strategy);
        setup.countAllocations = true;
        std::vector<std::pair<double, std::pair<PacingFigures, PacingFigures>>> rounds;
        double allocations = 0;
        for (int round = 0; round < 5; ++round) {
            auto [off, on] = RunLaunchersTogether(setup, supervisors.With(setup), s_frames);
            datagrams += supervisors.TakeDatagrams();
            rounds.push_back({off.framesPerSecond > 0 ? on.framesPerSecond / off.framesPerSecond : 0, {off, on}});
            allocations = std::max(allocations, on.frames > 0 ? static_cast<double>(on.allocations) / on.frames : -1);
        }
        std::sort(rounds.begin(), rounds.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const auto& [ratio, median] = rounds[2];
        std::printf("| %s | %.0f | %.0f | %.3f (%.3f, %.3f) | %.3f |\n", kStrategyNames[strategy],
                    median.first.framesPerSecond, median.second.framesPerSecond, ratio, rounds[0].first,
                    rounds[4].first, allocations);
        report.Row("supervisors", strategy, "fps_ratio_on_off", ratio);
        report.Row("supervisors", strategy, "allocations_per_frame_on", allocations);
    }
}

// The launcher's own cost per frame, strategy 3 flat out, on and off, in
// wall time and in processor time (which a busy neighbour does not inflate).
void SupervisorCost(Report& report, SupervisorsOn& supervisors, long& datagrams)
{
    LaunchSetup setup = Strategy(3);
    setup.environment = {{"BENCH_NET_SLEEP", "none"}};
    double wall[2] = {1e18, 1e18}, cpu[2] = {1e18, 1e18}, barePoll = 1e18;
    for (int run = 0; run < 5; ++run) {
        for (int on = 0; on < 2; ++on) {
            PacingFigures figures = RunLauncher(on ? supervisors.With(setup) : setup, 1000000);
            wall[on] = std::min(wall[on], 1e9 / figures.framesPerSecond);
            cpu[on] = std::min(cpu[on], figures.cpuMicrosecondsPerFrame * 1000);
        }
        datagrams += supervisors.TakeDatagrams();
        barePoll = std::min(barePoll, BareEngineLoopNanoseconds(BENCH_ENGINE, 1000000, true));
    }
    std::printf("\n| strategy 3 flat out | wall ns per frame, off / on | bare loop with the console's poll, ns | beyond the poll, off / on | CPU ns per frame, off / on | on minus off, wall / CPU |\n|---|---|---|---|---|---|\n");
    std::printf("| launcher | %.0f / %.0f | %.0f | %.0f / %.0f | %.0f / %.0f | %.0f / %.0f |\n", wall[0], wall[1], barePoll,
                wall[0] - barePoll, wall[1] - barePoll, cpu[0], cpu[1], wall[1] - wall[0], cpu[1] - cpu[0]);
    report.Row("supervisors", 3, "beyond_poll_ns_off", wall[0] - barePoll);
    report.Row("supervisors", 3, "beyond_poll_ns_on", wall[1] - barePoll);
    report.Row("supervisors", 3, "cpu_ns_on_minus_off", cpu[1] - cpu[0]);
    SupervisorsOn::HookCost hook = supervisors.MeasureHook();
    std::printf("\nThe run loop's hook alone, called 20 million times in the benchmark: %.1f ns per frame with none open, %.1f ns with all of them (of which %.1f ns is the clock read).\n",
                hook.off, hook.on, hook.clock);
    report.Row("supervisors", 3, "hook_ns_off", hook.off);
    report.Row("supervisors", 3, "hook_ns_on", hook.on);
    report.Row("supervisors", 3, "clock_ns", hook.clock);
}

// System calls per idle frame, strategy 0, with the rare ones kept: those
// are the pings.
void SupervisorSyscalls(Report& report, SupervisorsOn& supervisors, long& datagrams)
{
    std::map<std::string, double> off = SyscallsPerFrame(Strategy(0), 0);
    size_t pingsBefore = supervisors.SdkCalls(kHealthPing);
    std::map<std::string, double> on = SyscallsPerFrame(supervisors.With(Strategy(0)), 0);
    long runDatagrams = supervisors.TakeDatagrams();
    datagrams += runDatagrams;
    double offTotal = 0, onTotal = 0;
    std::string extra;
    for (const auto& [name, count] : on) {
        onTotal += count;
        char item[96];
        std::snprintf(item, sizeof(item), "%s%s %+.4f", extra.empty() ? "" : ", ", name.c_str(), count - off[name]);
        extra += count - off[name] != 0 ? item : "";
    }
    for (const auto& [name, count] : off)
        offTotal += count;
    std::printf("\n| strategy 0, idle | calls per frame, off / on | on minus off, by call | pings in the 500 + 2500 frames on |\n|---|---|---|---|\n");
    std::printf("| launcher | %.4f / %.4f | %s | %zu health, %ld datagrams |\n", offTotal, onTotal, extra.c_str(),
                supervisors.SdkCalls(kHealthPing) - pingsBefore, runDatagrams);
    report.Row("supervisors", 0, "syscalls_per_frame_off", offTotal);
    report.Row("supervisors", 0, "syscalls_per_frame_on", onTotal);
}

// NOTIFY_SOCKET, WATCHDOG_USEC and a live Agones SDK server all on, against
// all off, in one run.
void SupervisorSection(Report& report)
{
    std::printf("\n### Supervisors (%s): notify socket, watchdog and a live Agones SDK server, all on against all off\n\n", report.arch.c_str());
    SupervisorsOn supervisors;
    if (!supervisors.Live()) {
        std::printf("Skipped: no Agones SDK server answers (is ../shared/agones missing?).\n");
        return;
    }
    long datagrams = 0;
    SupervisorPacing(report, supervisors, datagrams);
    SupervisorCost(report, supervisors, datagrams);
    SupervisorSyscalls(report, supervisors, datagrams);
    std::printf("\nOver the section the SDK server logged %zu /ready, %zu /health and %zu /shutdown; the notify socket received %ld datagrams.\n",
                supervisors.SdkCalls("Ready request has been received!"), supervisors.SdkCalls(kHealthPing),
                supervisors.SdkCalls("Shutdown request has been received!"), datagrams);
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
    // syscalls, query, console, stop, supervisors or telemetry.
    std::string only = argc > 3 ? argv[3] : "";
    const std::pair<const char*, void (*)(Report&)> sections[] = {
        {"pacing", PacingSection}, {"slack", TimerSlackSection}, {"cost", OwnCostSection},
        {"syscalls", SyscallSection}, {"query", QuerySection}, {"console", ConsoleSection},
        {"stop", StopSection}, {"supervisors", SupervisorSection},
        {"telemetry", [](Report& r) { TelemetrySection(r.directory, r.arch); }}};
    for (const auto& [name, run] : sections)
        if (only.empty() || only == name)
            run(report);
    return 0;
}
