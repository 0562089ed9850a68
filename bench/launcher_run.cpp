#include "launcher_run.h"

#include "launcher_spawn.h"
#include "server_run.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

struct Launched {
    pid_t child;
    int input;  // the writing end of its idle standard input
};

// Starts the launcher with the bench engine; standard input is an open,
// idle pipe and the output goes nowhere.
Launched StartIn(const ServerDir& dir, const LaunchSetup& setup)
{
    int idle[2];
    if (pipe2(idle, O_CLOEXEC) != 0)
        std::abort();
    Launch launch;
    launch.directory = dir.Path();
    if (!setup.program.empty())
        launch.program = setup.program;
    launch.arguments = setup.arguments;
    launch.wrapper = setup.wrapper;
    launch.environment = {{"BENCH_NET_SLEEP", "socket"}};
    launch.environment.insert(launch.environment.end(), setup.environment.begin(),
                              setup.environment.end());
    if (setup.countAllocations)
        launch.environment.push_back({"LD_PRELOAD", BENCH_ALLOC_COUNTER});
    launch.input = idle[0];
    launch.output = "";
    launch.errors = "";
    if (setup.minimalTimerSlack)
        launch.prepare = [] { prctl(PR_SET_TIMERSLACK, 1); };
    pid_t child = SpawnLauncher(launch);
    close(idle[0]);
    return {child, idle[1]};
}

void WaitFor(const Launched& launched)
{
    WaitForExit(launched.child, -1, nullptr);
    close(launched.input);
}

// Runs the launcher until it ends.
void RunIn(const ServerDir& dir, const LaunchSetup& setup)
{
    WaitFor(StartIn(dir, setup));
}

// setup with the bench engine told how many frames to measure and where
// to write its figures.
LaunchSetup Measured(const LaunchSetup& setup, const ServerDir& dir, long frames)
{
    LaunchSetup run = setup;
    run.environment.push_back({"BENCH_FRAMES", std::to_string(frames)});
    run.environment.push_back({"BENCH_OUT", dir.File("results.txt")});
    return run;
}

PacingFigures ReadResults(const std::string& path)
{
    std::ifstream in(path);
    std::string word;
    long frames = 0, allocations = -1;
    long long wall = 0, cpu = 0;
    in >> word >> frames >> word >> wall >> word >> cpu >> word >> allocations;
    std::vector<long long> intervals;
    for (long long interval; in >> interval;)
        intervals.push_back(interval);
    PacingFigures figures = Summarise(intervals, wall, cpu);
    figures.allocations = allocations;
    return figures;
}

// Calls per system call name from an strace -c summary.
std::map<std::string, long> ReadStraceSummary(const std::string& path)
{
    std::map<std::string, long> calls;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        if (words.size() < 5 || words[0].find('.') == std::string::npos || words.back() == "total")
            continue;
        calls[words.back()] = std::atol(words[3].c_str());
    }
    return calls;
}

}  // namespace

PacingFigures RunLauncher(const LaunchSetup& setup, long frames)
{
    ServerDir dir(BENCH_ENGINE);
    RunIn(dir, Measured(setup, dir, frames));
    return ReadResults(dir.File("results.txt"));
}

std::pair<PacingFigures, PacingFigures> RunLaunchersTogether(const LaunchSetup& first,
                                                             const LaunchSetup& second, long frames)
{
    ServerDir dirs[2] = {ServerDir(BENCH_ENGINE), ServerDir(BENCH_ENGINE)};
    Launched launched[2] = {StartIn(dirs[0], Measured(first, dirs[0], frames)),
                            StartIn(dirs[1], Measured(second, dirs[1], frames))};
    for (const Launched& each : launched)
        WaitFor(each);
    return {ReadResults(dirs[0].File("results.txt")), ReadResults(dirs[1].File("results.txt"))};
}

std::map<std::string, double> SyscallsPerFrame(const LaunchSetup& setup, double least)
{
    const long shortRun = 500, longRun = 2500;
    std::map<std::string, long> counts[2];
    for (int i = 0; i < 2; ++i) {
        ServerDir dir(BENCH_ENGINE);
        LaunchSetup run = setup;
        run.wrapper = {"strace", "-f", "-c", "-o", dir.File("strace.txt")};
        run.environment.push_back({"BENCH_FRAMES", std::to_string(i == 0 ? shortRun : longRun)});
        RunIn(dir, run);
        counts[i] = ReadStraceSummary(dir.File("strace.txt"));
    }
    std::map<std::string, double> perFrame;
    for (const auto& [name, calls] : counts[1]) {
        double extra = static_cast<double>(calls - counts[0][name]) / (longRun - shortRun);
        if (extra > least)
            perFrame[name] = extra;
    }
    return perFrame;
}
