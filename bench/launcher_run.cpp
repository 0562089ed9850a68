#include "launcher_run.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ServerDirectory {
    ServerDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "tarn-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path = pattern;
        fs::copy_file(BENCH_ENGINE, path + "/engine_amd.so");
        fs::copy_file(BENCH_FILESYSTEM, path + "/filesystem_stdio_i386.so");
    }
    ~ServerDirectory() { fs::remove_all(path); }
    std::string path;
};

[[noreturn]] void Exec(const ServerDirectory& dir, const LaunchSetup& setup, int input)
{
    if (chdir(dir.path.c_str()) != 0)
        _exit(127);
    setenv("BENCH_NET_SLEEP", "socket", 1);
    for (const auto& [name, value] : setup.environment)
        setenv(name.c_str(), value.c_str(), 1);
    if (setup.countAllocations)
        setenv("LD_PRELOAD", BENCH_ALLOC_COUNTER, 1);
    if (setup.minimalTimerSlack)
        prctl(PR_SET_TIMERSLACK, 1);
    dup2(input, 0);
    int nowhere = open("/dev/null", O_WRONLY);
    dup2(nowhere, 1);
    dup2(nowhere, 2);
    std::vector<std::string> words = setup.wrapper;
    words.push_back(BENCH_LAUNCHER);
    words.insert(words.end(), setup.arguments.begin(), setup.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

struct Launched {
    pid_t child;
    int input;  // the writing end of its idle standard input
};

// Starts the launcher; standard input is an open, idle pipe.
Launched StartIn(const ServerDirectory& dir, const LaunchSetup& setup)
{
    int idle[2];
    if (pipe(idle) != 0)
        std::abort();
    pid_t child = fork();
    if (child == 0) {
        close(idle[1]);
        Exec(dir, setup, idle[0]);
    }
    close(idle[0]);
    return {child, idle[1]};
}

void WaitFor(const Launched& launched)
{
    waitpid(launched.child, nullptr, 0);
    close(launched.input);
}

// Runs the launcher until it ends.
void RunIn(const ServerDirectory& dir, const LaunchSetup& setup)
{
    WaitFor(StartIn(dir, setup));
}

// setup with the bench engine told how many frames to measure and where
// to write its figures.
LaunchSetup Measured(const LaunchSetup& setup, const ServerDirectory& dir, long frames)
{
    LaunchSetup run = setup;
    run.environment.push_back({"BENCH_FRAMES", std::to_string(frames)});
    run.environment.push_back({"BENCH_OUT", dir.path + "/results.txt"});
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
    ServerDirectory dir;
    RunIn(dir, Measured(setup, dir, frames));
    return ReadResults(dir.path + "/results.txt");
}

std::pair<PacingFigures, PacingFigures> RunLaunchersTogether(const LaunchSetup& first,
                                                             const LaunchSetup& second, long frames)
{
    ServerDirectory dirs[2];
    Launched launched[2] = {StartIn(dirs[0], Measured(first, dirs[0], frames)),
                            StartIn(dirs[1], Measured(second, dirs[1], frames))};
    for (const Launched& each : launched)
        WaitFor(each);
    return {ReadResults(dirs[0].path + "/results.txt"), ReadResults(dirs[1].path + "/results.txt")};
}

std::map<std::string, double> SyscallsPerFrame(const LaunchSetup& setup, double least)
{
    const long shortRun = 500, longRun = 2500;
    std::map<std::string, long> counts[2];
    for (int i = 0; i < 2; ++i) {
        ServerDirectory dir;
        LaunchSetup run = setup;
        run.wrapper = {"strace", "-f", "-c", "-o", dir.path + "/strace.txt"};
        run.environment.push_back({"BENCH_FRAMES", std::to_string(i == 0 ? shortRun : longRun)});
        RunIn(dir, run);
        counts[i] = ReadStraceSummary(dir.path + "/strace.txt");
    }
    std::map<std::string, double> perFrame;
    for (const auto& [name, calls] : counts[1]) {
        double extra = static_cast<double>(calls - counts[0][name]) / (longRun - shortRun);
        if (extra > least)
            perFrame[name] = extra;
    }
    return perFrame;
}
