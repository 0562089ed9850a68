#include "launcher/run_loop.h"

#include "common/limits.h"

#include <tarn/engine_api.h>

#include <cstdio>

namespace {

// A console line, its "\n" and the terminator.
constexpr int kSubmitSize = kMaxConsoleLine + 2;

void Submit(IRunEngine& engine, char (&text)[kSubmitSize], const char* line)
{
    std::snprintf(text, sizeof(text), "%s\n", line);
    engine.Submit(text);
}

// Paces, takes the typed and the listeners' lines, and runs frames until
// one returns false or a stop is requested. The service hears of the first
// frame and of every frame that completes. Nothing is allocated here: this
// is the per-frame path.
void RunFrames(const RunParts& parts)
{
    char text[kSubmitSize];
    for (bool first = true;; first = false) {
        parts.pacer.Sleep(kPacingMilliseconds);
        if (const char* line = parts.console.GetLine())
            Submit(parts.engine, text, line);
        // Every line the listeners' peers sent, in arrival order.
        while (const char* line = parts.service.NextLine())
            Submit(parts.engine, text, line);
        if (parts.service.StopRequested() || !parts.engine.RunFrame())
            return;
        if (first)
            parts.service.Started();
        parts.service.FrameDone();
    }
}

// The engine did not start: the process ends next, without the console's
// destructor.
int GiveUp(const RunParts& parts)
{
    parts.console.ShutDown();
    return kEngineNotStarted;
}

// A stop was requested before the engine started: nothing to shut down.
int StopUnstarted(const RunParts& parts)
{
    parts.console.ShutDown();
    parts.engine.Unload();
    parts.service.Stopping();
    return ENGINE_SHUTDOWN_QUIT;
}

// A restart needs the engine module that the last cycle unloaded, and the
// terminal that the last stop gave back.
bool PrepareRestart(const RunParts& parts)
{
    parts.console.TakeTerminalAgain();
    return parts.engine.Load();
}

}  // namespace

int RunLoop_Run(const RunParts& parts)
{
    for (bool restart = false;; restart = true) {
        if (restart && !PrepareRestart(parts))
            return GiveUp(parts);
        if (parts.service.StopRequested())
            return StopUnstarted(parts);
        if (!parts.engine.Start())
            return GiveUp(parts);
        RunFrames(parts);
        parts.console.ShutDown();  // gives the terminal back
        // A requested stop overrides the engine's code: no restart.
        if (parts.engine.Stop() == ENGINE_SHUTDOWN_QUIT || parts.service.StopRequested()) {
            parts.service.Stopping();
            return ENGINE_SHUTDOWN_QUIT;
        }
        parts.service.Restarting();
    }
}
