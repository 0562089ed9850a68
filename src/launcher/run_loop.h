// The run loop: engine starts, frames, restarts and the stop, over the four
// parts it drives. The launcher hands it the real ones (run_server.cpp, over
// the launcher's process-wide globals); tests hand it fakes.
#ifndef TARN_LAUNCHER_RUN_LOOP_H
#define TARN_LAUNCHER_RUN_LOOP_H

// What RunLoop_Run returns when the engine cannot be obtained or does not start.
constexpr int kEngineNotStarted = -1;
// The pace the loop asks of the pacer before every frame.
constexpr int kPacingMilliseconds = 1;

// The engine module and the engine inside it.
class IRunEngine {
public:
    virtual ~IRunEngine() {}
    // Loads the module again for a restart; false when it cannot be loaded.
    virtual bool Load() = 0;
    // Obtains the engine and initialises it; false when it refuses.
    virtual bool Start() = 0;
    // Hands a line, with its newline, to the engine.
    virtual void Submit(const char* text) = 0;
    // One frame; false when the engine asks to stop.
    virtual bool RunFrame() = 0;
    // Shuts the engine down and unloads the module; the shutdown code.
    virtual int Stop() = 0;
    // Unloads a module whose engine was never started.
    virtual void Unload() = 0;
};

// The operator's terminal.
class IRunConsole {
public:
    virtual ~IRunConsole() {}
    // A typed line, or null; valid until the next call.
    virtual const char* GetLine() = 0;
    // Gives the terminal back.
    virtual void ShutDown() = 0;
    // Takes the terminal again for a restarted engine.
    virtual void TakeTerminalAgain() = 0;
};

// Gives up the processor before each frame.
class IPacer {
public:
    virtual ~IPacer() {}
    virtual void Sleep(int milliseconds) = 0;
};

// The launcher's talk with the outside: its supervisors and listeners, and
// the stop that a signal requests.
class IRunService {
public:
    virtual ~IRunService() {}
    virtual bool StopRequested() = 0;
    // A line a listener's peer sent, or null; valid until the next call.
    virtual const char* NextLine() = 0;
    virtual void Started() = 0;
    virtual void FrameDone() = 0;
    virtual void Restarting() = 0;
    virtual void Stopping() = 0;
};

struct RunParts {
    IRunEngine& engine;
    IRunConsole& console;
    IPacer& pacer;
    IRunService& service;
};

// Starts the engine and runs its frames until it asks to quit or a stop is
// requested (returns ENGINE_SHUTDOWN_QUIT), restarting it on any other
// shutdown code; kEngineNotStarted when the engine does not start. The
// engine module is loaded when it is called.
int RunLoop_Run(const RunParts& parts);

#endif
