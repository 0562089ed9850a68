// The launcher's process-wide state, shared by main and the run loop.
#ifndef TARN_LAUNCHER_LAUNCHER_H
#define TARN_LAUNCHER_LAUNCHER_H

#include "interface.h"
#include "text_console_unix.h"

#include <tarn/engine_api.h>
#include <tarn/filesystem_api.h>

extern const char* g_pszengine;
extern CSysModule* engineModule;
extern CSysModule* filesystemModule;
extern InterfaceFactory filesystemFactory;
extern IFileSystemModule* pFileSystem;
extern IServerEngineAPI* engineAPI;
extern CTextConsoleUnix console;

// Loads engineModule from g_pszengine; on failure says so and returns false.
bool LoadEngineModule();

// Starts the engine and runs its frames until it asks to quit (returns
// ENGINE_SHUTDOWN_QUIT), restarting it on any other shutdown code. Returns
// -1 when the engine cannot be obtained or does not start.
int RunServer();

#endif
