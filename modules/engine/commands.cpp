#include "commands.h"

#include "console_print.h"
#include "server_status.h"

#include <tarn/engine_api.h>

#include <cstdio>
#include <cstring>

namespace {

// A console line of at most 255 characters and the terminator.
constexpr int kCommandLineSize = 256;
constexpr const char* kBlanks = " \t";

struct CommandCall {
    ServerState& server;
    const char* args;
    int depth;
};

struct Command {
    const char* name;
    const char* arguments;
    const char* description;
    void (*run)(const CommandCall& call);
};

void Help(const CommandCall& call);

void Status(const CommandCall& call)
{
    Server_PrintStatus(call.server, Stats_Microseconds());
}

void Echo(const CommandCall& call)
{
    Con_Printf("%s\n", call.args);
}

void Exec(const CommandCall& call)
{
    if (call.args[0] == '\0')
        Con_Printf("exec needs a file name.\n");
    else
        Cfg_Exec(call.server, call.args, call.depth + 1);
}

void Stop(ServerState& server, int code, const char* message)
{
    if (server.stopCode != kStillRunning)
        return;
    Con_Printf("%s", message);
    server.stopCode = code;
}

void Restart(const CommandCall& call)
{
    Stop(call.server, ENGINE_SHUTDOWN_RESTART, "Restarting the server.\n");
}

void Quit(const CommandCall& call)
{
    Stop(call.server, ENGINE_SHUTDOWN_QUIT, "Quitting.\n");
}

const Command kCommands[] = {
    {"help", "", "lists these commands", Help},
    {"status", "", "uptime, frames, frame rate, frame intervals, queries, address", Status},
    {"echo", "TEXT", "prints TEXT", Echo},
    {"exec", "FILE", "runs the commands in FILE, a path inside the server directory", Exec},
    {"restart", "", "stops the server and starts it again", Restart},
    {"quit", "", "stops the server and ends the launcher", Quit},
};

void Help(const CommandCall&)
{
    Con_Printf("Commands:\n");
    for (const Command& command : kCommands)
        Con_Printf("  %-8s %-5s %s\n", command.name, command.arguments, command.description);
}

const Command* FindCommand(const char* name)
{
    for (const Command& command : kCommands)
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

// Removes the line end and trailing blanks; a line from a file edited
// elsewhere may end in "\r\n".
void TrimEnd(char* text)
{
    size_t length = std::strlen(text);
    while (length > 0 && std::strchr(" \t\r\n", text[length - 1]))
        text[--length] = '\0';
}

}  // namespace

void Cmd_ExecuteLine(ServerState& server, const char* line, int depth)
{
    char text[kCommandLineSize];
    std::snprintf(text, sizeof(text), "%s", line);
    TrimEnd(text);
    char* name = text + std::strspn(text, kBlanks);
    if (name[0] == '\0' || std::strncmp(name, "//", 2) == 0)
        return;
    char* args = name + std::strcspn(name, kBlanks);
    if (*args != '\0') {
        *args++ = '\0';
        args += std::strspn(args, kBlanks);
    }
    const Command* command = FindCommand(name);
    if (!command) {
        Con_Printf("Unknown command \"%s\"; type \"help\" for the list.\n", name);
        return;
    }
    command->run(CommandCall{server, args, depth});
}
