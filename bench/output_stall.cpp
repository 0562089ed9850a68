#include "output_stall.h"

#include "monotonic.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr long kThroughputFrames = 1000;
constexpr long kThroughputWarmup = 10;

struct Tally {
    long lines = 0;
    long long first = 0, last = 0;  // when the first and the last of them came
};

// Reads descriptor until its end; counts the lines of exactly
// kPrintedLineLength bytes, the engine's (the launcher's own are shorter).
Tally ReadLinesUntilEnd(int descriptor)
{
    static char buffer[65536];
    Tally tally;
    size_t open = 0;  // bytes of the line under way
    for (;;) {
        ssize_t got = read(descriptor, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return tally;
        long long now = MonotonicNanoseconds();
        const char* at = buffer;
        const char* end = buffer + got;
        while (const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at))) {
            open += newline - at + 1;
            if (open == static_cast<size_t>(kPrintedLineLength)) {
                tally.first = tally.lines++ == 0 ? now : tally.first;
                tally.last = now;
            }
            open = 0;
            at = newline + 1;
        }
        open += end - at;
    }
}

// Lines per second printed, from the engine's figures.
PrintRate RateOf(const PacingFigures& figures, PrintLoad load)
{
    PrintRate rate;
    double measured = static_cast<double>(figures.frames) * load.linesPerFrame;
    if (load.flatOut)
        rate.linesPerSecond = figures.framesPerSecond * load.linesPerFrame;
    else if (figures.printNanoseconds > 0)
        rate.linesPerSecond = measured * 1e9 / figures.printNanoseconds;
    rate.printed = (kThroughputFrames + kThroughputWarmup) * load.linesPerFrame;
    return rate;
}

}  // namespace

LaunchSetup Printing(LaunchSetup setup, long lines)
{
    setup.environment.push_back({"BENCH_PRINT_LINES", std::to_string(lines)});
    setup.environment.push_back({"BENCH_PRINT_LENGTH", std::to_string(kPrintedLineLength)});
    return setup;
}

UnreadPipeRun BesideAnUnreadPipe(const LaunchSetup& setup, long frames)
{
    UnreadPipeRun run;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return run;
    LaunchSetup quiet = Printing(setup, 1);
    quiet.countAllocations = true;
    LaunchSetup stalled = quiet;
    stalled.output = ends[1];
    auto [devNull, unread] = RunLaunchersTogether(quiet, stalled, frames);
    run.devNull = devNull;
    run.unreadPipe = unread;
    int held = -1;
    if (ioctl(ends[0], FIONREAD, &held) == 0)
        run.pipeHeld = held;
    close(ends[0]);
    close(ends[1]);
    return run;
}

PrintRate PrintThroughput(const std::string& program, bool toPipe, PrintLoad load)
{
    LaunchSetup setup = Printing({}, load.linesPerFrame);
    setup.program = program;
    setup.arguments = {"-pingboost", "3"};
    if (load.flatOut)
        setup.environment.push_back({"BENCH_NET_SLEEP", "none"});
    setup.environment.push_back({"BENCH_WARMUP", std::to_string(kThroughputWarmup)});
    int ends[2] = {-1, -1};
    if (toPipe && pipe2(ends, O_CLOEXEC) != 0)
        return {};
    setup.output = ends[1];
    Tally tally;
    PacingFigures figures = RunLauncher(setup, kThroughputFrames, [&tally, &ends] {
        if (ends[0] < 0)
            return;
        // Only the launcher may hold the writing end, or the end never comes.
        close(ends[1]);
        tally = ReadLinesUntilEnd(ends[0]);
        close(ends[0]);
    });
    PrintRate rate = RateOf(figures, load);
    if (toPipe)
        rate.received = tally.lines;
    if (tally.last > tally.first)
        rate.receivedPerSecond = (tally.lines - 1) * 1e9 / (tally.last - tally.first);
    return rate;
}
