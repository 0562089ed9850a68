// The reference engine module: a small dedicated server that answers the
// query protocol on UDP and obeys console commands, printing through the
// launcher. Its exports are the factory and the network sleep that
// "-pingboost 3" uses.
#include "commands.h"
#include "console_print.h"
#include "engine_options.h"
#include "query_server.h"
#include "server_state.h"
#include "stop_signals.h"

#include <tarn/engine_api.h>
#include <tarn/export.h>

#include <cstring>
#include <time.h>

namespace {

constexpr const char* kEngineVersion = "1.0";
// The wait of one frame in the network sleep.
constexpr int kFrameIntervalMilliseconds = 1;

IDedicatedExports* FindPrintService(InterfaceFactory launcherFactory)
{
    if (!launcherFactory)
        return nullptr;
    return static_cast<IDedicatedExports*>(launcherFactory(VENGINE_DEDICATEDEXPORTS_API_VERSION, nullptr));
}

IFileAPI* FindFileAPI(InterfaceFactory filesystemFactory)
{
    if (!filesystemFactory)
        return nullptr;
    return static_cast<IFileAPI*>(filesystemFactory(FILEAPI_INTERFACE_VERSION, nullptr));
}

class Engine : public IServerEngineAPI {
public:
    bool Initialize(const char* baseDirectory, const char* commandLine,
                    InterfaceFactory launcherFactory, InterfaceFactory filesystemFactory) override;
    int Shutdown() override;
    bool RunFrame() override;
    void SubmitConsoleText(const char* text) override;

    // The network sleep: waits for a datagram or one frame interval.
    int NetSleep();

private:
    // The module's statics survive a restart when the loader keeps the image
    // mapped, so every start begins from a fresh state.
    ServerState server_;
};

// The base directory is not used here: the file-system module resolves
// every path below the same directory.
bool Engine::Initialize(const char*, const char* commandLine, InterfaceFactory launcherFactory,
                         InterfaceFactory filesystemFactory)
{
    server_.socket.Close();
    server_ = ServerState();
    // Without the print service nobody could be told anything.
    Con_Connect(FindPrintService(launcherFactory));
    if (!Con_Connected())
        return false;
    Con_Printf("Tarn reference engine %s\n", kEngineVersion);
    sockaddr_in address;
    if (!Engine_ReadOptions(commandLine ? commandLine : "", &address) || !server_.challenge.Start() ||
        !server_.socket.Open(address))
        return false;
    server_.files = FindFileAPI(filesystemFactory);
    server_.stats.Start(Stats_Microseconds());
    // Handlers first: "Listening on" tells scripts that a stop signal is
    // now handled.
    Sig_Install();
    Con_Printf("Listening on %s (UDP)\n", server_.socket.AddressText());
    Cfg_RunServerConfig(server_);
    return true;
}

int Engine::Shutdown()
{
    Sig_Restore();
    server_.socket.Close();
    if (server_.stopCode == kStillRunning)
        server_.stopCode = ENGINE_SHUTDOWN_QUIT;
    Con_Printf("Server stopped.\n");
    Sig_HandOn();
    return server_.stopCode;
}

bool Engine::RunFrame()
{
    int64_t now = Stats_Microseconds();
    server_.stats.RecordFrame(now);
    if (int number = Sig_Received(); number != 0 && server_.stopCode == kStillRunning) {
        Con_Printf("Stopping on %s.\n", Sig_Name(number));
        server_.stopCode = ENGINE_SHUTDOWN_QUIT;
    }
    if (server_.stopCode != kStillRunning)
        return false;
    Query_ServeFrame(server_, now);
    return true;
}

void Engine::SubmitConsoleText(const char* text)
{
    if (text)
        Cmd_ExecuteLine(server_, text, 0);
}

int Engine::NetSleep()
{
    if (server_.socket.IsOpen())
        return server_.socket.Wait(kFrameIntervalMilliseconds) ? 1 : 0;
    timespec interval{0, kFrameIntervalMilliseconds * 1000000L};
    nanosleep(&interval, nullptr);
    return 0;
}

Engine s_engine;

}  // namespace

TARN_MODULE_EXPORT IBaseInterface* CreateInterface(const char* identifier, int* returnCode)
{
    bool found = identifier && std::strcmp(identifier, ENGINE_LAUNCHER_API_VERSION) == 0;
    if (returnCode)
        *returnCode = found ? IFACE_OK : IFACE_FAILED;
    return found ? &s_engine : nullptr;
}

// Returns 1 when a datagram waits, 0 otherwise; the launcher ignores it.
TARN_MODULE_EXPORT int NET_Sleep_Timeout()
{
    return s_engine.NetSleep();
}
