// What the launcher tells the programs that supervise it: that the server is
// ready, that its frames still complete, that it restarts or stops. Each
// protocol (systemd's notify socket, the Agones SDK sidecar) lives in a file
// of its own behind ISupervisor; the run loop calls only the Supervisors_
// functions below, at its safe points, and none of them waits inside a frame.
#ifndef TARN_LAUNCHER_SUPERVISOR_H
#define TARN_LAUNCHER_SUPERVISOR_H

#include <cstdint>

class ISupervisor {
public:
    virtual ~ISupervisor() {}
    // The first frame of an engine start has run (once per start).
    virtual void Started(int64_t nowMicroseconds) = 0;
    // A frame completed. Called after every frame: when nothing is due it
    // compares times and returns; it never allocates and never blocks.
    virtual void FrameDone(int64_t nowMicroseconds) = 0;
    // The engine stopped and is about to be started again.
    virtual void Restarting(int64_t nowMicroseconds) = 0;
    // The engine quit or a stop was requested; the process ends next. The
    // one call that may wait, briefly and bounded, to deliver its message.
    virtual void Stopping(int64_t nowMicroseconds) = 0;
};

// Each returns its supervisor when the environment names one, else null.
ISupervisor* Systemd_OpenSupervisor();  // NOTIFY_SOCKET
ISupervisor* Agones_OpenSupervisor();   // AGONES_SDK_HTTP_PORT

// Reads the environment once, at startup, and opens the supervisors it names.
void Supervisors_Open();
// Each reads the monotonic clock once, and only when a supervisor is open.
void Supervisors_Started();
void Supervisors_FrameDone();
void Supervisors_Restarting();
void Supervisors_Stopping();

// The monotonic clock in microseconds.
int64_t Sys_MonotonicMicroseconds();

#endif
