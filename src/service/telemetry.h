// What the launcher counts about its frames and its peers, for the
// monitoring that scrapes it. Fixed storage; each call is a few additions.
#ifndef TARN_SERVICE_TELEMETRY_H
#define TARN_SERVICE_TELEMETRY_H

#include <cstdint>

// Where a line handed to the engine came from.
enum class LineSource { kConsole, kControl };

struct ControlCounts {
    int64_t attached = 0;      // clients attached now
    int64_t refused = 0;       // clients refused since the start
    int64_t disconnected = 0;  // clients the launcher disconnected since the start
};

// A line reached the engine's SubmitConsoleText.
void Telemetry_LineTyped(LineSource source);
int64_t Telemetry_LinesTyped(LineSource source);

// The control socket's clients.
void Telemetry_ControlAttached(int64_t attachedNow);
void Telemetry_ControlRefused();
void Telemetry_ControlDisconnected();
const ControlCounts& Telemetry_Control();

#endif
