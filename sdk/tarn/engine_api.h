// What the launcher asks of the engine module "engine_amd.so".
//
// The virtual slot order below is a binary contract: never reorder, insert or
// remove an operation.
#ifndef TARN_SDK_ENGINE_API_H
#define TARN_SDK_ENGINE_API_H

#include "interface.h"

#define ENGINE_LAUNCHER_API_VERSION "XENGINE_TARN_API_VERSION002"

// Optional C-linkage export of the engine module, looked up when the
// operator runs with "-pingboost 3": called once per frame in place of the
// launcher's own sleep. It should wait for network traffic or about a
// millisecond, whichever comes first. Its result is ignored.
#define ENGINE_NET_SLEEP_PROCNAME "NET_Sleep_Timeout"
typedef int (*NetSleepFunction)(void);

class IServerEngineAPI : public IBaseInterface {
public:
    // First call of every engine start. baseDirectory is ".", commandLine
    // the launcher's whole command line, launcherFactory serves the
    // launcher's exports, filesystemFactory the file-system module's
    // interfaces. False: the engine did not start.
    virtual bool Initialize(const char* baseDirectory, const char* commandLine,
                            InterfaceFactory launcherFactory,
                            InterfaceFactory filesystemFactory) = 0;
    // Once after the last frame. Returns the shutdown code:
    // ENGINE_SHUTDOWN_QUIT ends the process, anything else restarts the engine.
    virtual int Shutdown() = 0;
    // One server frame; false asks the launcher to stop the engine.
    virtual bool RunFrame() = 0;
    // One operator line ending in "\n", at most 255 characters, before the
    // next frame. The buffer is reused afterwards: copy what you keep.
    virtual void SubmitConsoleText(const char* text) = 0;
};

// Shutdown codes. Any code but ENGINE_SHUTDOWN_QUIT restarts the engine;
// ENGINE_SHUTDOWN_RESTART is the one to use for that.
enum {
    ENGINE_SHUTDOWN_QUIT = 3,
    ENGINE_SHUTDOWN_RESTART = 0,
};

#endif
