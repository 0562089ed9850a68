// The launcher's frame loop against the system's floor, for every pacing
// strategy: frame rate, frame intervals, processor time, system calls and
// heap allocations per frame, the launcher's own cost per frame, the timer
// slack setting and the console's keystroke latency. Prints markdown and
// writes a CSV (and the frame intervals, for plotting) into the directory
// given as the first argument.
#include "control_clients.h"
#include "floor.h"
#include "launcher_run.h"
#include "output_stall.h"
#include "pty_job.h"
#include "query_rtt.h"
#include "stop_latency.h"
#include "supervisors_on.h"
#include "telemetry_cost.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <tuple>
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

// The total of calls per frame and the calls by name.
std::pair<double, std::string> Totalled(const std::map<std::string, double>& calls)
{
    double total = 0;
    std::string detail;
    for (const auto& [name, count] : calls) {
        total += count;
        char item[96];
        std::snprintf(item, sizeof(item), "%s%s %.2f", detail.empty() ? "" : ", ", name.c_str(), count);
        detail += item;
    }
    return {total, detail};
}

void SyscallSection(Report& report)
{
    std::printf("\n### System calls per idle frame (%s), counted by strace\n\n| strategy | calls per frame | by call |\n|---|---|---|\n", report.arch.c_str());
    for (int strategy = 0; strategy < 4; ++strategy) {
        std::map<std::string, double> calls = SyscallsPerFrame(Strategy(strategy));
        for (const auto& [name, count] : calls)
            report.Row("syscalls", strategy, name, count);
        auto [total, detail] = Totalled(calls);
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
        std::printf("Skipped: the supervisors section (no Agones SDK server answers: is ../shared/agones/sdk-server missing?).\n");
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

// The launcher of the build before the output owner, which scripts/bench
// builds from the commit it names.
struct Before {
    std::string program;  // "" when none was built
    std::string name;
};

Before BeforeBuild()
{
    const char* program = std::getenv("TARN_BENCH_BEFORE");
    const char* name = std::getenv("TARN_BENCH_BEFORE_NAME");
    Before before;
    if (program && access(program, X_OK) == 0)
        before.program = program;
    before.name = name && *name ? name : "the build before";
    return before;
}


// The frame rate with standard output a pipe that nobody reads, against
// /dev/null, with the engine printing a line each frame: 10000 frames
// (about 10 s) each, the two launchers side by side.
void UnreadPipeFrames(Report& report)
{
    const long frames = 10000;
    std::printf("| strategy | fps, /dev/null | fps, unread pipe | unread pipe / /dev/null | seconds | p99 µs, /dev/null / unread pipe | longest frame interval µs, /dev/null / unread pipe | heap allocations per frame, /dev/null / unread pipe | bytes left unread in the pipe |\n|---|---|---|---|---|---|---|---|---|\n");
    for (int strategy : {0, 3}) {
        UnreadPipeRun run = BesideAnUnreadPipe(Strategy(strategy), frames);
        const PacingFigures& quiet = run.devNull;
        const PacingFigures& stalled = run.unreadPipe;
        double ratio = quiet.framesPerSecond > 0 ? stalled.framesPerSecond / quiet.framesPerSecond : 0;
        double seconds = stalled.framesPerSecond > 0 ? stalled.frames / stalled.framesPerSecond : 0;
        double allocations[2] = {quiet.frames > 0 ? static_cast<double>(quiet.allocations) / quiet.frames : -1,
                                 stalled.frames > 0 ? static_cast<double>(stalled.allocations) / stalled.frames : -1};
        std::printf("| %s | %.0f | %.0f | %.3f | %.1f | %.0f / %.0f | %.0f / %.0f | %.3f / %.3f | %ld |\n",
                    kStrategyNames[strategy], quiet.framesPerSecond, stalled.framesPerSecond, ratio, seconds,
                    quiet.p99Microseconds, stalled.p99Microseconds, quiet.maxMicroseconds,
                    stalled.maxMicroseconds, allocations[0], allocations[1], run.pipeHeld);
        report.Row("output_unread_pipe", strategy, "fps_ratio_to_dev_null", ratio);
        report.Row("output_unread_pipe", strategy, "max_us", stalled.maxMicroseconds);
        report.Row("output_unread_pipe", strategy, "allocations_per_frame", allocations[1]);
    }
}

// Five runs of one way of printing, of the build before ([0]) and of this
// build ([1]), one after the other.
struct RateRounds {
    std::vector<PrintRate> runs[2];
};

RateRounds MeasureRates(const Before& before, bool toPipe, PrintLoad load)
{
    RateRounds rounds;
    for (int round = 0; round < 5; ++round) {
        if (!before.program.empty())
            rounds.runs[0].push_back(PrintThroughput(before.program, toPipe, load));
        rounds.runs[1].push_back(PrintThroughput("", toPipe, load));
    }
    return rounds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One row: the median of a figure for each build, the median of the five
// ratios with the least and the most, and the lines the reader got.
void RateRow(Report& report, const std::string& label, const std::string& key, const RateRounds& rounds,
             double PrintRate::*figure)
{
    std::vector<double> values[2], ratios;
    long least[2] = {-1, -1};
    for (int build = 0; build < 2; ++build) {
        for (size_t i = 0; i < rounds.runs[build].size(); ++i) {
            const PrintRate& run = rounds.runs[build][i];
            values[build].push_back(run.*figure);
            least[build] = i == 0 ? run.received : std::min(least[build], run.received);
            if (build == 1 && i < rounds.runs[0].size() && rounds.runs[0][i].*figure > 0)
                ratios.push_back(run.*figure / (rounds.runs[0][i].*figure));
        }
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("| %s | %.0f | %.0f | %.3f (%.3f, %.3f) | ", label.c_str(), Median(values[0]), Median(values[1]),
                Median(ratios), ratios.empty() ? 0.0 : ratios.front(), ratios.empty() ? 0.0 : ratios.back());
    if (least[1] < 0)
        std::printf("none reads |\n");
    else
        std::printf("%ld / %ld of %ld |\n", least[0], least[1], rounds.runs[1].front().printed);
    report.Row(key, 3, "lines_per_second_before", Median(values[0]));
    report.Row(key, 3, "lines_per_second", Median(values[1]));
    report.Row(key, 3, "ratio_to_before", Median(ratios));
}

// Lines per second through Sys_Printf, this build against the one before:
// in bursts that a pipe holds whole, in bursts that it does not, and flat
// out.
void PrintRates(Report& report, const Before& before)
{
    std::printf("\n| 100-byte lines through Sys_Printf | lines/s, %s | lines/s, this build | this / before, median (least, most) of five | lines the reader got, least of five: %s / this build |\n|---|---|---|---|---|\n",
                before.name.c_str(), before.name.c_str());
    RateRounds quiet = MeasureRates(before, false, {500, false});
    RateRow(report, "/dev/null, 500 a frame: time in Sys_Printf", "output_rate_dev_null", quiet,
            &PrintRate::linesPerSecond);
    RateRounds read = MeasureRates(before, true, {500, false});
    RateRow(report, "a pipe read as fast as it comes, 500 a frame: time in Sys_Printf", "output_rate_pipe", read,
            &PrintRate::linesPerSecond);
    RateRounds more = MeasureRates(before, true, {1000, false});
    RateRow(report, "the same pipe, 1000 a frame: time in Sys_Printf", "output_rate_pipe_1000", more,
            &PrintRate::linesPerSecond);
    RateRow(report, "the same pipe, 1000 a frame: the reader got, over its time", "output_rate_pipe_1000_received",
            more, &PrintRate::receivedPerSecond);
    RateRounds flat = MeasureRates(before, true, {1000, true});
    RateRow(report, "the same pipe, 1000 a frame flat out: printed, over the frames' time",
            "output_rate_pipe_flat_printed", flat, &PrintRate::linesPerSecond);
    RateRow(report, "the same pipe, 1000 a frame flat out: the reader got, over its time",
            "output_rate_pipe_flat_received", flat, &PrintRate::receivedPerSecond);
}

// System calls per frame, idle with every strategy and printing a line to
// /dev/null, this build against the one before.
void OutputSyscalls(Report& report, const Before& before)
{
    std::printf("\n| frame | calls per frame, %s | calls per frame, this build | by call, %s | by call, this build |\n|---|---|---|---|---|\n",
                before.name.c_str(), before.name.c_str());
    struct Frame {
        std::string label, section;
        int strategy;
        LaunchSetup setup;
    };
    std::vector<Frame> frames;
    for (int strategy = 0; strategy < 4; ++strategy)
        frames.push_back({std::string("idle, ") + kStrategyNames[strategy], "output_syscalls_idle", strategy,
                          Strategy(strategy)});
    frames.push_back({"a line to /dev/null, 0 usleep", "output_syscalls_printing", 0, Printing(Strategy(0), 1)});
    for (auto& [frame, section, strategy, setup] : frames) {
        auto now = Totalled(SyscallsPerFrame(setup));
        std::pair<double, std::string> then{-1, "not built"};
        if (!before.program.empty()) {
            setup.program = before.program;
            then = Totalled(SyscallsPerFrame(setup));
        }
        std::printf("| %s | %.2f | %.2f | %s | %s |\n", frame.c_str(), then.first, now.first, then.second.c_str(),
                    now.second.c_str());
        report.Row(section, strategy, "before", then.first);
        report.Row(section, strategy, "now", now.first);
    }
}

// What printing through Sys_Printf costs the frame loop when the reader
// stalls and when it keeps up, and against the build before.
void OutputSection(Report& report)
{
    std::printf("\n### Output through Sys_Printf (%s): a reader that never reads, lines per second, system calls per frame\n\n", report.arch.c_str());
    if (report.arch != "x86-64") {
        std::printf("Measured on x86-64 only.\n");
        return;
    }
    Before before = BeforeBuild();
    if (before.program.empty())
        std::printf("No launcher of the build before was given (TARN_BENCH_BEFORE): this build's figures only.\n\n");
    UnreadPipeFrames(report);
    PrintRates(report, before);
    OutputSyscalls(report, before);
}


// The engine's unmeasured frames before the measured ones, where frames
// come 1 ms apart and flat out: long enough for the consoles to attach.
constexpr long kPacedWarmup = 100;
constexpr long kFlatOutWarmup = 1000000;

// One pair of launchers side by side: without the socket and with it,
// every console it admits attached and idle.
struct ControlRound {
    double ratio = 0;  // frame rate with the consoles over without
    PacingFigures none, attached;
};

ControlRound RunControlRound(IdleConsoles& consoles, int strategy, long frames)
{
    LaunchSetup setup = Strategy(strategy);
    setup.countAllocations = true;
    ControlRound round;
    std::tie(round.none, round.attached) =
        RunLaunchersTogether(consoles.Without(setup, kPacedWarmup), consoles.With(setup, kPacedWarmup), frames,
                             [&consoles, frames] { consoles.Attend(kPacedWarmup, frames); });
    if (round.none.framesPerSecond > 0)
        round.ratio = round.attached.framesPerSecond / round.none.framesPerSecond;
    return round;
}

double AllocationsPerFrame(const PacingFigures& figures)
{
    return figures.frames > 0 ? static_cast<double>(figures.allocations) / figures.frames : -1;
}

// Frame rate with every console the control socket admits attached and
// idle, against no control socket: the two launchers side by side, 10000
// frames (about 10 s) each, three times; the median ratio counts.
void ControlPacing(Report& report, IdleConsoles& consoles)
{
    const long frames = 10000;
    std::printf("| strategy | fps, no socket | fps, 8 consoles | 8 consoles / no socket, median (least, most) of three | seconds | p99 µs, no socket / 8 consoles | longest frame interval µs of the three, no socket / 8 consoles | CPU µs per frame, no socket / 8 consoles | heap allocations per frame of the three, no socket / 8 consoles |\n|---|---|---|---|---|---|---|---|---|\n");
    for (int strategy : {0, 3}) {
        std::vector<ControlRound> rounds;
        double longest[2] = {0, 0}, allocations[2] = {-1, -1};
        for (int i = 0; i < 3; ++i) {
            rounds.push_back(RunControlRound(consoles, strategy, frames));
            longest[0] = std::max(longest[0], rounds.back().none.maxMicroseconds);
            longest[1] = std::max(longest[1], rounds.back().attached.maxMicroseconds);
            allocations[0] = std::max(allocations[0], AllocationsPerFrame(rounds.back().none));
            allocations[1] = std::max(allocations[1], AllocationsPerFrame(rounds.back().attached));
        }
        std::sort(rounds.begin(), rounds.end(), [](const auto& a, const auto& b) { return a.ratio < b.ratio; });
        const PacingFigures& none = rounds[1].none;
        const PacingFigures& attached = rounds[1].attached;
        double seconds = attached.framesPerSecond > 0 ? attached.frames / attached.framesPerSecond : 0;
        std::printf("| %s | %.0f | %.0f | %.3f (%.3f, %.3f) | %.1f | %.0f / %.0f | %.0f / %.0f | %.2f / %.2f | %.3f / %.3f |\n",
                    kStrategyNames[strategy], none.framesPerSecond, attached.framesPerSecond, rounds[1].ratio,
                    rounds[0].ratio, rounds[2].ratio, seconds, none.p99Microseconds, attached.p99Microseconds,
                    longest[0], longest[1], none.cpuMicrosecondsPerFrame, attached.cpuMicrosecondsPerFrame,
                    allocations[0], allocations[1]);
        report.Row("control", strategy, "fps_ratio_to_no_socket", rounds[1].ratio);
        report.Row("control", strategy, "max_us", longest[1]);
        report.Row("control", strategy, "max_us_no_socket", longest[0]);
        report.Row("control", strategy, "allocations_per_frame", allocations[1]);
        report.Row("control", strategy, "cpu_us_per_frame_no_socket", none.cpuMicrosecondsPerFrame);
        report.Row("control", strategy, "cpu_us_per_frame", attached.cpuMicrosecondsPerFrame);
    }
}

// The launcher's own cost per frame, strategy 3 flat out, without and with
// the socket and its consoles, alternating, best of five; then the
// service's per-frame calls alone in this process.
void ControlCost(Report& report, IdleConsoles& consoles)
{
    const long frames = 1000000;
    LaunchSetup setup = Strategy(3);
    setup.environment = {{"BENCH_NET_SLEEP", "none"}};
    double wall[2] = {1e18, 1e18}, cpu[2] = {1e18, 1e18}, barePoll = 1e18;
    for (int run = 0; run < 5; ++run) {
        for (int on = 0; on < 2; ++on) {
            PacingFigures figures =
                on ? RunLauncher(consoles.With(setup, kFlatOutWarmup), frames,
                                 [&consoles] { consoles.Attend(kFlatOutWarmup, frames); })
                   : RunLauncher(consoles.Without(setup, kFlatOutWarmup), frames);
            wall[on] = std::min(wall[on], figures.framesPerSecond > 0 ? 1e9 / figures.framesPerSecond : 1e18);
            cpu[on] = std::min(cpu[on], figures.cpuMicrosecondsPerFrame * 1000);
        }
        barePoll = std::min(barePoll, BareEngineLoopNanoseconds(BENCH_ENGINE, frames, true));
    }
    std::printf("\n| strategy 3 flat out | wall ns per frame, no socket / 8 consoles | bare loop with the console's poll, ns | beyond the poll, no socket / 8 consoles | CPU ns per frame, no socket / 8 consoles | 8 consoles minus no socket, wall / CPU |\n|---|---|---|---|---|---|\n");
    std::printf("| launcher | %.0f / %.0f | %.0f | %.0f / %.0f | %.0f / %.0f | %.0f / %.0f |\n", wall[0], wall[1],
                barePoll, wall[0] - barePoll, wall[1] - barePoll, cpu[0], cpu[1], wall[1] - wall[0],
                cpu[1] - cpu[0]);
    report.Row("control", 3, "beyond_poll_ns_off", wall[0] - barePoll);
    report.Row("control", 3, "beyond_poll_ns_on", wall[1] - barePoll);
    report.Row("control", 3, "cpu_ns_on_minus_off", cpu[1] - cpu[0]);
    ControlHookCost hook = MeasureControlHook();
    std::printf("\n| the service's per-frame calls in this process | no socket | socket, 8 consoles attached%s |\n|---|---|---|\n",
                hook.attached ? "" : " (NOT all attached)");
    std::printf("| back to back, 20 million calls, ns per call | %.1f | %.1f |\n", hook.hotOff, hook.hotOn);
    std::printf("| %ld calls 1 ms apart: median ns of a call that does not poll | %.0f | %.0f |\n", hook.pacedCalls,
                hook.quietOff, hook.quietOn);
    std::printf("| of those, the %ld that polled (one every %.1f ms): median ns | | %.0f |\n", hook.polls,
                hook.pollIntervalMs, hook.pollingOn);
    std::printf("| all %ld: mean ns per call | %.0f | %.0f |\n", hook.pacedCalls, hook.pacedOff, hook.pacedOn);
    std::printf("\nThe coarse clock read alone, back to back: %.1f ns.\n", hook.clock);
    report.Row("control", 3, "hook_ns_off", hook.hotOff);
    report.Row("control", 3, "hook_ns_on", hook.hotOn);
    report.Row("control", 3, "paced_ns_off", hook.pacedOff);
    report.Row("control", 3, "paced_ns_on", hook.pacedOn);
    report.Row("control", 3, "paced_quiet_ns_off", hook.quietOff);
    report.Row("control", 3, "paced_quiet_ns_on", hook.quietOn);
    report.Row("control", 3, "polling_ns_on", hook.pollingOn);
    report.Row("control", 3, "poll_interval_ms", hook.pollIntervalMs);
    report.Row("control", 3, "clock_ns", hook.clock);
}

// System calls per idle frame, without and with the consoles, the rare
// calls kept: those are the socket's polls. A poll comes every so many
// milliseconds, not frames, so the frames' length under strace is shown
// beside them.
void ControlSyscalls(Report& report, IdleConsoles& consoles)
{
    std::printf("\n| idle frame | calls per frame, no socket / 8 consoles | 8 consoles minus no socket, by call | by call, 8 consoles | ms per frame under strace with 8 consoles, from their attach to the end: 500 / 2500-frame run |\n|---|---|---|---|---|\n");
    for (int strategy : {0, 3}) {
        std::map<std::string, double> off = SyscallsPerFrame(consoles.Without(Strategy(strategy), kPacedWarmup), 0);
        std::vector<double> frameMs;
        std::map<std::string, double> on = SyscallsPerFrame(consoles.With(Strategy(strategy), kPacedWarmup), 0,
                                                            [&consoles, &frameMs] {
                                                                consoles.Attend(kPacedWarmup, 0);
                                                                frameMs.push_back(consoles.Seen().lastMsPerFrame);
                                                            });
        std::string extra;
        for (const auto& [name, count] : on) {
            char item[96];
            std::snprintf(item, sizeof(item), "%s%s %+.4f", extra.empty() ? "" : ", ", name.c_str(), count - off[name]);
            extra += count != off[name] ? item : "";
        }
        double offTotal = Totalled(off).first;
        auto [onTotal, onDetail] = Totalled(on);
        std::printf("| %s | %.4f / %.4f | %s | %s | %.2f / %.2f |\n", kStrategyNames[strategy], offTotal, onTotal,
                    extra.c_str(), onDetail.c_str(), frameMs.size() > 0 ? frameMs[0] : 0.0,
                    frameMs.size() > 1 ? frameMs[1] : 0.0);
        report.Row("control_syscalls", strategy, "no_socket", offTotal);
        report.Row("control_syscalls", strategy, "consoles", onTotal);
        report.Row("control_syscalls", strategy, "poll", on["poll"]);
    }
}

// A control socket with 8 idle consoles attached against none, in one run.
void ControlSection(Report& report)
{
    std::printf("\n### Control socket (%s): 8 idle consoles attached against no control socket\n\n", report.arch.c_str());
    if (report.arch != "x86-64") {
        std::printf("Measured on x86-64 only.\n");
        return;
    }
    IdleConsoles consoles;
    ControlPacing(report, consoles);
    ControlCost(report, consoles);
    ControlSyscalls(report, consoles);
    const Attendance& seen = consoles.Seen();
    std::printf("\nThe consoles attended %d runs. All 8 were attached in %d of them, known to be so with at least %ld warm-up frames still to run (only after the measured frames had begun in %d); %d consoles were closed before the engine's last frame; each received %lld to %lld bytes in a run.\n",
                seen.runs, seen.runs - seen.unattached, seen.leastMargin, seen.late, seen.closedEarly,
                seen.leastBytes, seen.mostBytes);
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
    // syscalls, query, console, stop, supervisors, output, control or telemetry.
    std::string only = argc > 3 ? argv[3] : "";
    const std::pair<const char*, void (*)(Report&)> sections[] = {
        {"pacing", PacingSection}, {"slack", TimerSlackSection}, {"cost", OwnCostSection},
        {"syscalls", SyscallSection}, {"query", QuerySection}, {"console", ConsoleSection},
        {"stop", StopSection}, {"supervisors", SupervisorSection}, {"output", OutputSection},
        {"control", ControlSection},
        {"telemetry", [](Report& r) { TelemetrySection(r.directory, r.arch); }}};
    for (const auto& [name, run] : sections)
        if (only.empty() || only == name)
            run(report);
    return 0;
}
