// The Agones SDK sidecar's supervisor, and the timing that the shipped fleet
// must allow for: its health checks wait for the /health calls, and its
// grace period before a kill covers the /shutdown call.
#ifndef TARN_SERVICE_SUPERVISORS_AGONES_SDK_H
#define TARN_SERVICE_SUPERVISORS_AGONES_SDK_H

#include <cstdint>

class ISupervisor;

// The supervisor when AGONES_SDK_HTTP_PORT names a port, else null (after a
// warning when the value is no port).
ISupervisor* Agones_OpenSupervisor();

// Between two /health calls while frames complete, in µs: a fleet's health
// period of a few seconds then forgives one late call.
constexpr int64_t kAgonesHealthInterval = 1000000;
// What the process may spend delivering /shutdown before it ends, in µs.
constexpr int64_t kAgonesShutdownBudget = 1000000;

#endif
