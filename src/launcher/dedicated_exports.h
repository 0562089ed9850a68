// The launcher's print service for the engine.
#ifndef TARN_LAUNCHER_DEDICATED_EXPORTS_H
#define TARN_LAUNCHER_DEDICATED_EXPORTS_H

#include <tarn/dedicated_exports.h>

class CDedicatedExports : public IDedicatedExports {
public:
    ~CDedicatedExports() override {}
    void Sys_Printf(const char* text) override;
};

#endif
