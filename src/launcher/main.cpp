// Process entry of the launcher: startup in its fixed order, then the run
// loop, then teardown.
#include "launcher/launcher.h"

#include "cmdline/icommandline.h"
#include "interface/module.h"
#include "launcher/crash_report.h"
#include "launcher/dedicated_exports.h"
#include "launcher/engine_module.h"
#include "launcher/metrics_switch.h"
#include "launcher/pacing.h"
#include "launcher/signals.h"
#include "output/output.h"
#include "output/sys_printf.h"
#include "service/listeners/control_socket.h"
#include "service/service.h"
#include "service/supervisors/agones_sdk.h"
#include "service/supervisors/systemd_notify.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace {

// The joined arguments with their terminator.
constexpr int kMaxCmdline = 2048;
constexpr int kStartupFailed = -1;
constexpr const char* kFileSystemModuleName = "filesystem_stdio_i386.so";

}  // namespace

// Static initialisation builds these three in this order: the console (which
// does nothing to the terminal yet), the exports instance and its record in
// the interface registry.
CTextConsoleUnix console;
EXPOSE_SINGLE_INTERFACE(CDedicatedExports, IDedicatedExports, VENGINE_DEDICATEDEXPORTS_API_VERSION);

char linuxCmdline[kMaxCmdline];
CSysModule* filesystemModule = nullptr;
InterfaceFactory filesystemFactory = nullptr;
// Named by the design: the Hungarian-style name that the launcher's design
// gives it. Nothing outside the process reaches it: the executable exports
// no symbol.
IFileSystemModule* pFileSystem = nullptr;

namespace {

// The size of the arguments after the first, joined by single spaces, with
// the terminator: each argument's length plus one.
size_t JoinedSize(int argc, char** argv)
{
    size_t total = 0;
    for (int i = 1; i < argc; ++i)
        total += std::strlen(argv[i]) + 1;
    return total;
}

// Joins the arguments into linuxCmdline; the caller checked that they fit.
void JoinArguments(int argc, char** argv)
{
    char* end = linuxCmdline;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            *end++ = ' ';
        size_t length = std::strlen(argv[i]);
        std::memcpy(end, argv[i], length);
        end += length;
    }
    *end = '\0';
}

// True when value, as CheckParm gave it for the switch at match, is the whole
// word given: a cut value would name another file or strategy than the
// operator's, so it is not used at all.
bool WholeValue(const char* match, const char* value)
{
    unsigned length = 0;
    CmdLine_ValueWord(match, &length);
    return length == std::strlen(value);
}

// Plain sleep unless -pingboost names another strategy.
void ChoosePacing()
{
    long pingboost = 0;
    char* value = nullptr;
    const char* match = cmdline->CheckParm("-pingboost", &value);
    if (match && value && WholeValue(match, value))
        pingboost = std::strtol(value, nullptr, 10);
    Pacing_Choose(pingboost, Engine_NetSleep());
}

void WritePidFile()
{
    char* value = nullptr;
    const char* match = cmdline->CheckParm("-pidfile", &value);
    if (!match || !value)
        return;
    FILE* file = WholeValue(match, value) ? std::fopen(value, "w") : nullptr;
    if (!file) {
        unsigned length = 0;
        const char* name = CmdLine_ValueWord(match, &length);
        Sys_Printf("Warning: unable to open pidfile (%.*s)\n", static_cast<int>(length), name);
        return;
    }
    std::fprintf(file, "%i\n", static_cast<int>(getpid()));
    std::fclose(file);
}

// Loads and activates the file-system module; false ends the process.
bool StartFileSystem()
{
    filesystemModule = Sys_LoadModule(kFileSystemModuleName);
    filesystemFactory = Sys_GetFactory(filesystemModule);
    if (!filesystemFactory)
        return false;
    pFileSystem = static_cast<IFileSystemModule*>(
        filesystemFactory(FILESYSTEM_INTERFACE_VERSION, nullptr));
    if (!pFileSystem)
        return false;
    pFileSystem->Activate();
    return true;
}

// The listeners the command line asks for; false ends the process.
bool OpenListeners()
{
    char* path = nullptr;
    const char* match = cmdline->CheckParm("-controlsocket", &path);
    if (!match || !path)
        return true;
    if (!WholeValue(match, path)) {
        unsigned length = 0;
        const char* whole = CmdLine_ValueWord(match, &length);
        Sys_Printf("Control socket path too long for a socket address: %.*s\n", static_cast<int>(length), whole);
        return false;
    }
    bool forGroup = cmdline->CheckParm("-controlgroup", nullptr) != nullptr;
    return Service_AddListener(Control_Open(path, forGroup));
}

// Every supervisor the launcher speaks to; each opens only when the
// environment names it.
void OpenSupervisors()
{
    for (auto open : {Systemd_OpenSupervisor, Agones_OpenSupervisor})
        Service_AddSupervisor(open());
}

void StopFileSystem()
{
    if (pFileSystem)
        pFileSystem->Deactivate();
    Sys_UnloadModule(filesystemModule);
}

}  // namespace

int main(int argc, char** argv)
{
    Signals_Install();
    Output_Open();
    if (JoinedSize(argc, argv) > static_cast<size_t>(kMaxCmdline)) {
        Sys_Printf("command line too long, %i max\n", kMaxCmdline);
        std::exit(kStartupFailed);
    }
    JoinArguments(argc, argv);
    cmdline->CreateCmdLine(linuxCmdline);
    cmdline->AppendParm("-lumen", nullptr);
    Crash_Prepare(cmdline->GetCmdLine());
    if (!MetricsSwitch_Open())
        return kStartupFailed;

    if (!Engine_Load())
        return kStartupFailed;
    ChoosePacing();
    WritePidFile();
    if (!StartFileSystem() || !OpenListeners())
        return kStartupFailed;
    if (!console.Init(nullptr)) {
        // Kept for compatibility: the message's spelling, which operators'
        // scripts match byte for byte, and status 0, which their
        // supervisors expect here.
        Sys_Printf("Failed to initilise console.\n");
        return 0;
    }

    OpenSupervisors();
    int result = RunServer();

    StopFileSystem();
    // _exit flushes nothing: the output that still waits for its reader
    // goes out here, for a bounded time.
    Service_Close();
    if (Signals_StopRequested())
        Signals_EndByStopSignal();
    // An engine that did not start is a failure that a supervisor retries.
    _exit(result == kEngineNotStarted ? kStartupFailed : 0);
}
