#ifndef TARN_BENCH_LAUNCHER_RUN_H
#define TARN_BENCH_LAUNCHER_RUN_H

#include "stats.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

struct LaunchSetup {
    std::string program;  // the launcher to run, when not this build's
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> wrapper;  // a command the launcher runs under, e.g. strace
    bool minimalTimerSlack = false;    // 1 ns timer slack, inherited by the launcher
    bool countAllocations = false;     // preload the allocation counter
};

// Runs the launcher with the bench engine for frames measured frames, in a
// fresh server directory with nothing typed, and returns the engine's figures.
PacingFigures RunLauncher(const LaunchSetup& setup, long frames);

// Two launchers side by side, each in a server directory of its own, so
// that both meet the same disturbances from the rest of the machine.
std::pair<PacingFigures, PacingFigures> RunLaunchersTogether(const LaunchSetup& first,
                                                             const LaunchSetup& second, long frames);

// System calls per idle frame, by name, from two runs of different length
// under strace (so that startup and teardown cancel out); calls rarer than
// least per frame are left out.
std::map<std::string, double> SyscallsPerFrame(const LaunchSetup& setup, double least = 0.005);

#endif
