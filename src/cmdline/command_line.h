// The command-line object behind ICommandLine. Only the command-line unit
// and its tests see this class; everyone else goes through `cmdline`.
#ifndef TARN_CMDLINE_COMMAND_LINE_H
#define TARN_CMDLINE_COMMAND_LINE_H

#include "cmdline/icommandline.h"

class CCommandLine : public ICommandLine {
public:
    // Bounds of the fixed working buffers, terminator included.
    static constexpr int kExpandedSize = 4096;
    static constexpr int kFileNameSize = 4096;
    static constexpr int kJoinedSize = 4096;
    static constexpr int kNumberSize = 64;
    static constexpr int kValueSize = 128;

    CCommandLine() = default;
    CCommandLine(const CCommandLine&) = delete;
    CCommandLine& operator=(const CCommandLine&) = delete;
    ~CCommandLine() override;

    void CreateCmdLine(const char* text) override;
    void CreateCmdLine(int argc, const char** argv) override;
    const char* GetCmdLine() override;
    const char* CheckParm(const char* name, char** value) override;
    void RemoveParm(const char* name) override;
    void AppendParm(const char* name, const char* value) override;
    void SetParm(const char* name, const char* value) override;
    void SetParm(const char* name, int value) override;

private:
    char* commandLine = nullptr;  // owned, allocated with new[]
};

#endif
