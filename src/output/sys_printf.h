// The launcher's formatted print to standard output.
#ifndef TARN_OUTPUT_SYS_PRINTF_H
#define TARN_OUTPUT_SYS_PRINTF_H

// Longest text printed at once; longer output is cut silently.
constexpr int kMaxPrintLength = 1023;

// Prints the formatted text as it is (no prefix, no newline added), cut to
// kMaxPrintLength characters, through the output owner: written at once
// when standard output's reader keeps up, never waiting when it does not
// (but for the blocking fallback that output.h describes).
void Sys_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints text literally and whole, however long, through the same owner:
// for messages that carry a name of any length.
void Output_Print(const char* text);

#endif
