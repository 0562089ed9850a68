#include "launcher.h"

#include "crash_report.h"
#include "engine_module.h"
#include "icommandline.h"
#include "pacing.h"
#include "service.h"
#include "signals.h"
#include "telemetry.h"

#include <cstdio>

namespace {

constexpr int kPacingMilliseconds = 1;
// A console line of at most 254 characters, its "\n" and the terminator.
constexpr int kSubmitSize = 256;

void Submit(char (&text)[kSubmitSize], const char* line)
{
    std::snprintf(text, sizeof(text), "%s\n", line);
    Crash_EnterEngine(EnginePhase::kSubmitConsoleText);
    engineAPI->SubmitConsoleText(text);
    Crash_LeaveEngine();
}

// One engine frame between the telemetry's two clock reads.
bool RunOneFrame()
{
    Crash_EnterEngine(EnginePhase::kRunFrame);
    Telemetry_FrameBegins();
    bool more = engineAPI->RunFrame();
    Telemetry_FrameEnds();
    Crash_LeaveEngine();
    return more;
}

// Paces, polls the console and runs frames until one returns false or a
// stop is requested. The services hear of the first frame and of every
// frame that completes. Nothing is allocated here: this is the per-frame
// path.
void RunFrames()
{
    char text[kSubmitSize];
    Telemetry_EngineStarted(kPacingMilliseconds);
    for (bool first = true;; first = false) {
        Sys_Sleep(kPacingMilliseconds);
        if (const char* line = console.GetLine()) {
            Submit(text, line);
            Telemetry_LineTyped(LineSource::kConsole);
        }
        // Every line the listeners' peers sent, in arrival order.
        while (const char* line = Service_NextLine())
            Submit(text, line);
        if (Signals_StopRequested() || !RunOneFrame())
            return;
        if (first)
            Service_Started();
        Service_FrameDone();
    }
}

// Starts the engine once; false when it cannot be obtained or refuses.
bool StartEngine()
{
    if (!Engine_FetchAPI())
        return false;
    Crash_EnterEngine(EnginePhase::kInitialize);
    bool started = engineAPI->Initialize(".", cmdline->GetCmdLine(), Sys_GetFactoryThis(),
                                         filesystemFactory);
    Crash_LeaveEngine();
    return started;
}

// Stops the engine after its last frame and unloads it; returns its
// shutdown code.
int StopEngine()
{
    console.ShutDown();  // gives the terminal back
    Crash_EnterEngine(EnginePhase::kShutdown);
    int code = engineAPI->Shutdown();
    Crash_LeaveEngine();
    Engine_Unload();
    return code;
}

// A restart needs the engine module that the last cycle unloaded, and the
// terminal that the last stop gave back.
bool PrepareRestart()
{
    console.TakeTerminalAgain();
    return Engine_Load();
}

// The engine did not start: the process ends next, without the console's
// destructor.
int GiveUp()
{
    console.ShutDown();
    return kEngineNotStarted;
}

// A stop was requested before the engine started: nothing to shut down.
int StopUnstarted()
{
    console.ShutDown();
    Engine_Unload();
    Service_Stopping();
    return ENGINE_SHUTDOWN_QUIT;
}

}  // namespace

int RunServer()
{
    for (bool restart = false;; restart = true) {
        if (restart && !PrepareRestart())
            return GiveUp();
        if (Signals_StopRequested())
            return StopUnstarted();
        if (!StartEngine())
            return GiveUp();
        RunFrames();
        // A requested stop overrides the engine's code: no restart.
        if (StopEngine() == ENGINE_SHUTDOWN_QUIT || Signals_StopRequested()) {
            Service_Stopping();
            return ENGINE_SHUTDOWN_QUIT;
        }
        Service_Restarting();
    }
}
