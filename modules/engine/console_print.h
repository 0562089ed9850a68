// Printing through the launcher's print service: the engine's only output.
#ifndef TARN_MODULES_ENGINE_CONSOLE_PRINT_H
#define TARN_MODULES_ENGINE_CONSOLE_PRINT_H

#include <tarn/dedicated_exports.h>

// Sets the service to print through; null prints nothing.
void Con_Connect(IDedicatedExports* exports);
bool Con_Connected();

// Formats at most kPrintSize - 1 characters and prints them; the rest is cut.
void Con_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
