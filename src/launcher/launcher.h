// The launcher's process-wide state, shared by main and the run loop.
#ifndef TARN_LAUNCHER_LAUNCHER_H
#define TARN_LAUNCHER_LAUNCHER_H

#include "interface.h"
#include "text_console_unix.h"

#include <tarn/filesystem_api.h>

extern CSysModule* filesystemModule;
extern InterfaceFactory filesystemFactory;
extern IFileSystemModule* pFileSystem;
extern CTextConsoleUnix console;

// What RunServer returns when the engine cannot be obtained or does not start.
constexpr int kEngineNotStarted = -1;

// Starts the engine and runs its frames until it asks to quit or a stop is
// requested (returns ENGINE_SHUTDOWN_QUIT), restarting it on any other
// shutdown code; kEngineNotStarted when the engine does not start.
int RunServer();

#endif
