// What the launcher did last, kept in the diagnostics library's function
// trace for a crash report to write out, newest first: engine starts,
// restarts, the commands handed to the engine and stop signals. Recorded at
// those events only, never per frame.
#ifndef TARN_LAUNCHER_TRACE_H
#define TARN_LAUNCHER_TRACE_H

// Records what, followed by detail when it is not null ("console line: "
// and the line), cut to 255 characters.
void Trace_Event(const char* what, const char* detail);

// Records what and the first word of line: the command, without arguments
// that may hold a password the operator would not share with a report.
void Trace_Line(const char* what, const char* line);

// From the stop signals' handler: async-signal-safe.
void Trace_StopSignal(int signalNumber);

#endif
