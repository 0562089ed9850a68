// The launcher's process-wide state, shared by main and the run loop.
#ifndef TARN_LAUNCHER_LAUNCHER_H
#define TARN_LAUNCHER_LAUNCHER_H

#include "console/text_console_unix.h"
#include "interface/interface.h"
#include "launcher/run_loop.h"

#include <tarn/filesystem_api.h>

extern CSysModule* filesystemModule;
extern InterfaceFactory filesystemFactory;
extern IFileSystemModule* pFileSystem;
extern CTextConsoleUnix console;

// RunLoop_Run (run_loop.h) over the launcher's own engine module, console,
// pacing strategy and service subsystem.
int RunServer();

#endif
