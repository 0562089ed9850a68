// The launcher's service to the engine, obtained through the launcher
// factory handed to IServerEngineAPI::Initialize.
//
// The virtual slot order below is a binary contract: never reorder, insert or
// remove an operation.
#ifndef TARN_SDK_DEDICATED_EXPORTS_H
#define TARN_SDK_DEDICATED_EXPORTS_H

#include "interface.h"

#define VENGINE_DEDICATEDEXPORTS_API_VERSION "XENGINE_DEDICATEDEXPORTS_API_VERSION001"

class IDedicatedExports : public IBaseInterface {
public:
    // Prints text literally on the launcher's standard output ("%" is not a
    // conversion), cut to 1023 characters and flushed at once.
    virtual void Sys_Printf(const char* text) = 0;
};

#endif
