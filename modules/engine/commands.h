// The console commands, typed by the operator or read from config files.
#ifndef TARN_MODULES_ENGINE_COMMANDS_H
#define TARN_MODULES_ENGINE_COMMANDS_H

#include "server_state.h"

// Runs one line: the first word names the command, the rest (trimmed) is
// its argument text. Blank lines and lines starting with "//" do nothing.
// depth counts the config files being run around this line.
void Cmd_ExecuteLine(ServerState& server, const char* line, int depth);

// Runs the commands of a file inside the server directory, one per line,
// until one of them stops the server. False, with the reason printed, when
// the file cannot be run.
bool Cfg_Exec(ServerState& server, const char* path, int depth);

// Runs server.cfg when it exists.
void Cfg_RunServerConfig(ServerState& server);

#endif
