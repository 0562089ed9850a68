// The engine module has one owner: this unit loads it, looks up what the
// launcher needs in it (the engine API and the network sleep) and unloads
// it, so nothing outside holds a pointer into an unloaded image.
#ifndef TARN_LAUNCHER_ENGINE_MODULE_H
#define TARN_LAUNCHER_ENGINE_MODULE_H

#include "interface/interface.h"

#include <tarn/engine_api.h>

// Named by the design: the Hungarian-style name that the launcher's design
// gives it. Nothing outside the process reaches it: the executable exports
// no symbol.
extern const char* g_pszengine;
extern CSysModule* engineModule;
extern IServerEngineAPI* engineAPI;

// Loads engineModule from g_pszengine, and hands pacing the network sleep
// of the new image; on failure says so and returns false.
bool Engine_Load();
// Looks the engine API up in the loaded module and keeps it in engineAPI;
// null when the module has no factory or the factory no engine.
IServerEngineAPI* Engine_FetchAPI();
// The loaded module's NET_Sleep_Timeout, or null.
NetSleepFunction Engine_NetSleep();
// Unloads the module; engineModule, engineAPI and pacing's network sleep
// become null.
void Engine_Unload();

#endif
