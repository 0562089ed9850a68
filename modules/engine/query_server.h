// Answers the query protocol from the server's frame.
#ifndef TARN_MODULES_ENGINE_QUERY_SERVER_H
#define TARN_MODULES_ENGINE_QUERY_SERVER_H

#include "server_state.h"

// Answers the datagrams waiting on the server's socket, at most a bounded
// number per frame so that a flood cannot hold up the frame loop.
void Query_ServeFrame(ServerState& server, int64_t now);

#endif
