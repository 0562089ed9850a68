// Everything one start of the engine owns, reset by every Initialize.
#ifndef TARN_MODULES_ENGINE_SERVER_STATE_H
#define TARN_MODULES_ENGINE_SERVER_STATE_H

#include "frame_stats.h"
#include "net_socket.h"
#include "query_challenge.h"

#include <tarn/file_api.h>

#include <cstdint>

// stopCode while the server runs.
constexpr int kStillRunning = -1;

struct ServerState {
    NetSocket socket;
    QueryChallenger challenge;
    FrameStats stats;
    IFileAPI* files = nullptr;  // null when the file-system module offers none
    int64_t queriesServed = 0;
    int stopCode = kStillRunning;  // the shutdown code once a stop was asked for
};

#endif
