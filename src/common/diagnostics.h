#ifndef TARN_COMMON_DIAGNOSTICS_H
#define TARN_COMMON_DIAGNOSTICS_H

// Diagnostics for instrumenting code: a ring of the most recent function
// names (the function trace), timing a stretch of work against a limit, and
// numbered error-log files "errorlogs/errorlogNNNNN.txt" below the working
// directory that hold an error message and the trace, newest first.
//
// Nothing here prints, stops the process or takes a lock: use it from one
// thread at a time. Recording a trace entry never allocates or does I/O.

#include "common/perf_counter.h"

constexpr int kTraceEntryCount = 64;   // entries in the trace ring
constexpr int kTraceEntrySize = 256;   // bytes per entry: 255 characters and the terminator

// Named by the design: the library and its Hungarian-style globals. The
// launcher records its last events in the trace (launcher/trace.h) and
// times nothing; its crash report writes the trace out. The timers and
// Error are there for instrumenting code; nothing outside the process
// reaches any of it.

// The trace ring; an entry whose first byte is zero is empty.
extern char g_LogEntries[kTraceEntryCount][kTraceEntrySize];
// Index of the entry the next trace call writes; the one before it is the newest.
extern int g_iCurrentEntry;
// Number of the last error-log file taken; 0 before the first error log.
extern int g_iLogNumber;
// The timer behind _StartFunctionTimer and _LogFunctionTraceMaxTime.
extern CPerformanceCounter g_PerfCounter;

// Writes a new error-log file with the message and the trace entries recorded
// since the previous one (emptying them). Never overwrites an existing file;
// when none can be created it returns silently and the trace stays.
extern "C" void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Records name, followed directly by suffix when it is not null, cut to 255
// characters. Once the ring is full the oldest entry is overwritten.
void _LogFunctionTrace(const char* name, const char* suffix);

// The current time in seconds, to be handed to _LogFunctionTraceMaxTime.
double _StartFunctionTimer();

// Records name when at most maxTime seconds passed since startTime;
// otherwise writes an error log saying the function took too long.
void _LogFunctionTraceMaxTime(const char* name, double startTime, double maxTime);

// Does nothing: the ring and the log files stay as they are.
void ClearErrorLogs();

// --- for a handler of a fatal signal: async-signal-safe, no allocation ---

constexpr char kErrorLogDirectory[] = "errorlogs";
// "errorlog" and up to ten digits and ".txt", with the terminator.
constexpr int kErrorLogNameSize = 24;

// Creates the file of the next free log number in the log directory open
// as directoryFd, as Error does: never an existing one. Returns its
// descriptor and its name (without the directory), or -1 with errno set.
int Diag_CreateNextLog(int directoryFd, char (&name)[kErrorLogNameSize]);
// Writes the trace section's lines to fd as Error does, newest first,
// emptying each entry written; false, with errno set, when a write failed.
bool Diag_WriteTrace(int fd);

#endif
