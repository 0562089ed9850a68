#include "commands.h"

#include "console_print.h"

namespace {

// A config line of at most 255 characters and the terminator, as typed.
constexpr int kConfigLineSize = 256;
// Config files running config files: deep enough for any layout, and an
// end for a file that runs itself.
constexpr int kMaxExecDepth = 8;
constexpr const char* kServerConfig = "server.cfg";

// Runs the lines of an open file until the end or a stop.
void RunLines(ServerState& server, IFileAPI& files, FileHandle file, const char* path, int depth)
{
    char line[kConfigLineSize];
    for (int number = 1; server.stopCode == kStillRunning; ++number) {
        int length = files.ReadLine(file, line, sizeof(line));
        if (length < 0)
            return;
        if (length >= kConfigLineSize)
            Con_Printf("%s line %d is longer than %d characters; skipped.\n", path, number,
                       kConfigLineSize - 1);
        else
            Cmd_ExecuteLine(server, line, depth);
    }
}

}  // namespace

bool Cfg_Exec(ServerState& server, const char* path, int depth)
{
    if (!server.files) {
        Con_Printf("Cannot run %s: the file-system module offers no file API.\n", path);
        return false;
    }
    if (depth > kMaxExecDepth) {
        Con_Printf("Cannot run %s: config files nest more than %d deep.\n", path, kMaxExecDepth);
        return false;
    }
    FileHandle file = server.files->Open(path, FILEAPI_READ);
    if (file < 0) {
        Con_Printf("Cannot run %s: %s.\n", path, FileAPI_ErrorText(file));
        return false;
    }
    RunLines(server, *server.files, file, path, depth);
    server.files->Close(file);
    return true;
}

void Cfg_RunServerConfig(ServerState& server)
{
    if (!server.files || !server.files->Exists(kServerConfig))
        return;
    Con_Printf("Running %s\n", kServerConfig);
    Cfg_Exec(server, kServerConfig, 1);
}
