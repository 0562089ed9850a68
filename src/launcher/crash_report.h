// Crash and hang reports: when a fatal signal ends the process (a crash, or
// the SIGABRT with which a watchdog ends a hung frame), the next free error
// log "errorlogs/errorlogNNNNN.txt" says which signal, where the engine was,
// the function trace, the backtrace of the stack that was running, the last
// output, the command line, the uptime and the counts; standard output gets
// one line naming it, or saying that it is cut short or why there is none.
// Everything the handler needs is prepared at start.
#ifndef TARN_LAUNCHER_CRASH_REPORT_H
#define TARN_LAUNCHER_CRASH_REPORT_H

#include "common/limits.h"

#include <csignal>

// Where the launcher's run loop is: inside one of the engine's calls, or in
// the launcher itself.
enum class EnginePhase { kLauncher, kInitialize, kRunFrame, kShutdown, kSubmitConsoleText };

// At start, in the working directory: keeps the directory, the clock and
// the command line, and loads what the backtrace needs.
void Crash_Prepare(const char* commandLine);

// The run loop's marks, a store each. The counts come from the telemetry.
void Crash_EnterEngine(EnginePhase phase);
void Crash_LeaveEngine();

// Async-signal-safe, from the handler of a fatal signal: writes the report
// and the line on standard output. Changes nothing about how the process
// then ends.
void Crash_Report(int signalNumber, const siginfo_t* info);

#endif
