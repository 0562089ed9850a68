// The engine's own switches in the launcher's command line.
#ifndef TARN_MODULES_ENGINE_ENGINE_OPTIONS_H
#define TARN_MODULES_ENGINE_ENGINE_OPTIONS_H

#include <netinet/in.h>

// Reads "-ip ADDRESS" (default 127.0.0.1) and "-port N" (default
// QUERY_DEFAULT_PORT; 0 lets the system choose) into address. Switches are
// whole words separated by spaces, the first of each name counts, and
// other switches are left alone. False, with the reason printed, when a
// value is not usable.
bool Engine_ReadOptions(const char* commandLine, sockaddr_in* address);

#endif
