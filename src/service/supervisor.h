// What the launcher tells the programs that supervise it: that the server is
// ready, that its frames still complete, that it restarts or stops. Each
// protocol (systemd's notify socket, the Agones SDK sidecar) lives in a file
// of its own in supervisors/ behind ISupervisor; the launcher adds the ones
// its environment names with Service_AddSupervisor, the run loop reaches
// them only through the Service_ functions (service.h), and none of them
// waits inside a frame.
#ifndef TARN_SERVICE_SUPERVISOR_H
#define TARN_SERVICE_SUPERVISOR_H

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
    // The process ends: sockets are closed. Called once, after Stopping.
    virtual void Close() = 0;
};

#endif
