// A module built from the SDK headers alone. It notes every call it gets,
// so that a test that does not use the SDK can see which operation each
// virtual slot reaches.
#include <tarn/dedicated_exports.h>
#include <tarn/engine_api.h>
#include <tarn/export.h>
#include <tarn/filesystem_api.h>

#include <string.h>

namespace {

const int kCallsSize = 512;
char s_calls[kCallsSize];

void Note(const char* call)
{
    size_t used = strlen(s_calls);
    if (used + strlen(call) + 2 > sizeof(s_calls))
        return;
    strcat(s_calls, call);
    strcat(s_calls, ";");
}

class ProbeEngine : public IServerEngineAPI {
public:
    bool Initialize(const char* baseDirectory, const char* commandLine,
                    InterfaceFactory launcherFactory, InterfaceFactory filesystemFactory)
    {
        Note("Initialize");
        Note(baseDirectory);
        IDedicatedExports* exports = static_cast<IDedicatedExports*>(
            launcherFactory(VENGINE_DEDICATEDEXPORTS_API_VERSION, 0));
        if (exports)
            exports->Sys_Printf(commandLine);
        return filesystemFactory(FILESYSTEM_INTERFACE_VERSION, 0) != 0;
    }
    int Shutdown()
    {
        Note("Shutdown");
        return ENGINE_SHUTDOWN_QUIT;
    }
    bool RunFrame()
    {
        Note("RunFrame");
        return false;
    }
    void SubmitConsoleText(const char* text)
    {
        Note("SubmitConsoleText");
        Note(text);
    }
};

class ProbeFileSystem : public IFileSystemModule {
public:
    void Activate() { Note("Activate"); }
    void Deactivate() { Note("Deactivate"); }
};

ProbeEngine s_engine;
ProbeFileSystem s_fileSystem;

}  // namespace

TARN_MODULE_EXPORT IBaseInterface* CreateInterface(const char* identifier, int* returnCode)
{
    IBaseInterface* found = 0;
    if (strcmp(identifier, ENGINE_LAUNCHER_API_VERSION) == 0)
        found = &s_engine;
    else if (strcmp(identifier, FILESYSTEM_INTERFACE_VERSION) == 0)
        found = &s_fileSystem;
    if (returnCode)
        *returnCode = found ? IFACE_OK : IFACE_FAILED;
    return found;
}

TARN_MODULE_EXPORT int NET_Sleep_Timeout()
{
    Note("NET_Sleep_Timeout");
    return 7;
}

TARN_MODULE_EXPORT const char* SdkProbe_Calls()
{
    return s_calls;
}

TARN_MODULE_EXPORT void SdkProbe_Reset()
{
    s_calls[0] = '\0';
}
