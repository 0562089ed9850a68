// The server's state as the operator (status) and the query protocol (info)
// see it.
#ifndef TARN_MODULES_ENGINE_SERVER_STATUS_H
#define TARN_MODULES_ENGINE_SERVER_STATUS_H

#include "server_state.h"

void Server_PrintStatus(ServerState& server, int64_t now);

// Writes the info reply's "key=value\n" lines into out, without a
// terminator; returns the count of bytes written, at most size.
int Server_InfoText(const ServerState& server, int64_t now, char* out, int size);

#endif
