// systemd's notify protocol: READY, STATUS, the watchdog's pings, RELOADING
// and STOPPING, sent as datagrams to the socket NOTIFY_SOCKET names.
#ifndef TARN_SERVICE_SUPERVISORS_SYSTEMD_NOTIFY_H
#define TARN_SERVICE_SUPERVISORS_SYSTEMD_NOTIFY_H

class ISupervisor;

// The supervisor when NOTIFY_SOCKET names a usable socket, else null (after a
// warning when it names one that cannot be used). Either way the variables
// of the protocol leave the environment, so that the engine's helpers do not
// speak in the launcher's name.
ISupervisor* Systemd_OpenSupervisor();

#endif
