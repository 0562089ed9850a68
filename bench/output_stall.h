#ifndef TARN_BENCH_OUTPUT_STALL_H
#define TARN_BENCH_OUTPUT_STALL_H

#include "launcher_run.h"

#include <string>
#include <utility>

// What printing through Sys_Printf costs the frame loop: with a reader that
// never reads, and how many lines a second get through.

constexpr long kPrintedLineLength = 100;  // bytes, "\n" included

// setup with the bench engine printing lines lines of kPrintedLineLength
// bytes each frame.
LaunchSetup Printing(LaunchSetup setup, long lines);

struct UnreadPipeRun {
    PacingFigures devNull;     // standard output /dev/null
    PacingFigures unreadPipe;  // standard output a pipe nobody reads
    long pipeHeld = -1;        // bytes in that pipe at the end
};

// Two launchers side by side, each printing one line per frame: one to
// /dev/null, one to a pipe whose reading end this process holds open and
// never reads. Heap allocations are counted in both.
UnreadPipeRun BesideAnUnreadPipe(const LaunchSetup& setup, long frames);

// How the engine prints in a measure of lines per second: lines of
// kPrintedLineLength bytes each frame, frames 1 ms apart (strategy 3) or
// flat out, with no wait between them. 500 lines (50 KB) fit a pipe whole,
// so a reader that keeps up never finds it full; 1000 (100 KB) do not.
struct PrintLoad {
    long linesPerFrame;
    bool flatOut;
};

struct PrintRate {
    // Frames 1 ms apart: lines over the time the engine spent in
    // Sys_Printf; flat out: lines over the measured frames' wall time.
    double linesPerSecond = 0;
    long printed = 0;   // lines the engine printed, warm-up included
    long received = -1;  // of those, lines the reader got; -1 for /dev/null
    double receivedPerSecond = 0;  // from the reader's first line to its last
};

// Lines per second through Sys_Printf to /dev/null, or to a pipe this
// process reads as fast as it can. program names the launcher; "" for this
// build's.
PrintRate PrintThroughput(const std::string& program, bool toPipe, PrintLoad load);

#endif
