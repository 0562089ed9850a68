// The launcher's formatted print to standard output.
#ifndef TARN_LAUNCHER_SYS_PRINTF_H
#define TARN_LAUNCHER_SYS_PRINTF_H

// Longest text printed at once; longer output is cut silently.
constexpr int kMaxPrintLength = 1023;

// Prints the formatted text as it is (no prefix, no newline added), cut to
// kMaxPrintLength characters, and flushes standard output at once.
void Sys_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
