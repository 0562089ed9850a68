#include "launcher.h"

#include "icommandline.h"
#include "module.h"
#include "pacing.h"
#include "supervisor.h"

#include <cstdio>

namespace {

constexpr int kPacingMilliseconds = 1;
constexpr int kFailed = -1;
// A console line of at most 254 characters, its "\n" and the terminator.
constexpr int kSubmitSize = 256;

// The engine API from the loaded engine module, or null.
IServerEngineAPI* FetchEngineAPI()
{
    InterfaceFactory factory = Sys_GetFactory(engineModule);
    if (!factory)
        return nullptr;
    return static_cast<IServerEngineAPI*>(factory(ENGINE_LAUNCHER_API_VERSION, nullptr));
}

// A restart needs the engine module that the last cycle unloaded.
bool ReloadEngineModule()
{
    if (!LoadEngineModule())
        return false;
    Sys_RefreshNetSleep(engineModule);
    return true;
}

// Paces, polls the console and runs frames until one returns false. The
// supervisors hear of the first frame and of every frame that completes.
// Nothing is allocated here: this is the per-frame path.
void RunFrames()
{
    char text[kSubmitSize];
    for (bool first = true;; first = false) {
        Sys_Sleep(kPacingMilliseconds);
        if (const char* line = console.GetLine()) {
            std::snprintf(text, sizeof(text), "%s\n", line);
            engineAPI->SubmitConsoleText(text);
        }
        if (!engineAPI->RunFrame())
            return;
        if (first)
            Supervisors_Started();
        Supervisors_FrameDone();
    }
}

// Starts the engine once; false when it cannot be obtained or refuses.
bool StartEngine()
{
    engineAPI = FetchEngineAPI();
    if (!engineAPI)
        return false;
    return engineAPI->Initialize(".", cmdline->GetCmdLine(), Sys_GetFactoryThis(),
                                 filesystemFactory);
}

// Stops the engine after its last frame and unloads it; returns its
// shutdown code.
int StopEngine()
{
    console.ShutDown();
    int code = engineAPI->Shutdown();
    Sys_UnloadModule(engineModule);
    engineModule = nullptr;
    NET_Sleep = nullptr;
    engineAPI = nullptr;
    return code;
}

}  // namespace

bool LoadEngineModule()
{
    engineModule = Sys_LoadModule(g_pszengine);
    if (!engineModule)
        std::printf("Unable to load engine, image is corrupt.\n");
    return engineModule != nullptr;
}

int RunServer()
{
    for (bool restart = false;; restart = true) {
        // The last stop gave the terminal back; the console takes it again.
        if (restart)
            console.ApplyRawMode();
        if ((restart && !ReloadEngineModule()) || !StartEngine()) {
            // The process ends next without the console's destructor.
            console.ShutDown();
            return kFailed;
        }
        RunFrames();
        if (StopEngine() == ENGINE_SHUTDOWN_QUIT) {
            Supervisors_Stopping();
            return ENGINE_SHUTDOWN_QUIT;
        }
        Supervisors_Restarting();
    }
}
