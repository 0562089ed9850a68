#include "launcher/engine_module.h"

#include "interface/module.h"
#include "launcher/pacing.h"
#include "output/sys_printf.h"

const char* g_pszengine = "engine_amd.so";
CSysModule* engineModule = nullptr;
IServerEngineAPI* engineAPI = nullptr;

bool Engine_Load()
{
    engineModule = Sys_LoadModule(g_pszengine);
    if (!engineModule) {
        Sys_Printf("Unable to load engine, image is corrupt.\n");
        return false;
    }
    Pacing_SetEngineNetSleep(Engine_NetSleep());
    return true;
}

IServerEngineAPI* Engine_FetchAPI()
{
    engineAPI = nullptr;
    if (InterfaceFactory factory = Sys_GetFactory(engineModule))
        engineAPI = static_cast<IServerEngineAPI*>(factory(ENGINE_LAUNCHER_API_VERSION, nullptr));
    return engineAPI;
}

NetSleepFunction Engine_NetSleep()
{
    if (!engineModule)
        return nullptr;
    return reinterpret_cast<NetSleepFunction>(
        Sys_GetProcAddress(engineModule, ENGINE_NET_SLEEP_PROCNAME));
}

void Engine_Unload()
{
    Pacing_SetEngineNetSleep(nullptr);
    engineAPI = nullptr;
    Sys_UnloadModule(engineModule);
    engineModule = nullptr;
}
