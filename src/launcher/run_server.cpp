// The run loop's parts as the launcher has them: the engine module and its
// API, the terminal console, the chosen pacing strategy and the service
// subsystem, each reached through the process-wide globals that modules and
// the interface contract rely on. Each start, restart and line handed to the
// engine is recorded in the function trace here, where the globals are.
#include "launcher/launcher.h"

#include "cmdline/icommandline.h"
#include "launcher/crash_report.h"
#include "launcher/engine_module.h"
#include "launcher/pacing.h"
#include "launcher/run_loop.h"
#include "launcher/signals.h"
#include "launcher/trace.h"
#include "service/service.h"
#include "telemetry/telemetry.h"

#include <cstdio>

namespace {

// Every call into the engine is marked, so that a crash report names the
// call the engine was inside.
class LauncherEngine final : public IRunEngine {
public:
    bool Load() override { return Engine_Load(); }

    bool Start() override
    {
        char number[16];
        std::snprintf(number, sizeof(number), "%d", ++starts_);
        Trace_Event("engine start ", number);
        if (!Engine_FetchAPI())
            return false;
        Crash_EnterEngine(EnginePhase::kInitialize);
        bool started = engineAPI->Initialize(".", cmdline->GetCmdLine(), Sys_GetFactoryThis(),
                                             filesystemFactory);
        Crash_LeaveEngine();
        if (started)
            Telemetry_EngineStarted(kPacingMilliseconds);
        return started;
    }

    void Submit(const char* text) override
    {
        Crash_EnterEngine(EnginePhase::kSubmitConsoleText);
        engineAPI->SubmitConsoleText(text);
        Crash_LeaveEngine();
    }

    // One engine frame between the telemetry's two clock reads.
    bool RunFrame() override
    {
        Crash_EnterEngine(EnginePhase::kRunFrame);
        Telemetry_FrameBegins();
        bool more = engineAPI->RunFrame();
        Telemetry_FrameEnds();
        Crash_LeaveEngine();
        return more;
    }

    int Stop() override
    {
        Crash_EnterEngine(EnginePhase::kShutdown);
        int code = engineAPI->Shutdown();
        Crash_LeaveEngine();
        Engine_Unload();
        return code;
    }

    void Unload() override { Engine_Unload(); }

private:
    int starts_ = 0;
};

class LauncherConsole final : public IRunConsole {
public:
    const char* GetLine() override
    {
        const char* line = console.GetLine();
        if (line) {
            Telemetry_LineTyped(LineSource::kConsole);
            Trace_Line("console line: ", line);
        }
        return line;
    }
    void ShutDown() override { console.ShutDown(); }
    void TakeTerminalAgain() override { console.TakeTerminalAgain(); }
};

class LauncherPacer final : public IPacer {
public:
    void Sleep(int milliseconds) override { Sys_Sleep(milliseconds); }
};

class LauncherService final : public IRunService {
public:
    bool StopRequested() override { return Signals_StopRequested() != 0; }
    const char* NextLine() override
    {
        const char* line = Service_NextLine();
        if (line)
            Trace_Line("control line: ", line);
        return line;
    }
    void Started() override { Service_Started(); }
    void FrameDone() override { Service_FrameDone(); }
    void Restarting() override
    {
        Trace_Event("restart", nullptr);
        Service_Restarting();
    }
    void Stopping() override { Service_Stopping(); }
};

}  // namespace

int RunServer()
{
    LauncherEngine engine;
    LauncherConsole terminal;
    LauncherPacer pacer;
    LauncherService service;
    return RunLoop_Run({engine, terminal, pacer, service});
}
