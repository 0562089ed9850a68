// The control socket: a Unix stream socket through which operators attach
// to the server's console wherever it runs (a systemd service, a
// container). A client of the launcher's own user or root (or, when the
// socket is opened for the group, a member of the launcher's group) gets the recent
// output, then every line as standard output gets it, and each line it
// sends reaches the engine as if typed on the terminal. Anyone else, a
// ninth client, a line too long and a client that has sent nothing and
// read nothing for 60 s are refused with one exact line; a client that
// falls far behind the output misses lines and is told how many, one that
// floods is disconnected; nothing waits on a client. Every client's lines
// reach the engine in turn with the others', in its own order.
#ifndef TARN_SERVICE_LISTENERS_CONTROL_SOCKET_H
#define TARN_SERVICE_LISTENERS_CONTROL_SOCKET_H

#include <cstdint>

// At most this many clients at once.
constexpr int kMaxControlClients = 8;

struct ControlCounts {
    int64_t attached = 0;      // clients attached now
    int64_t refused = 0;       // clients refused since the start
    int64_t disconnected = 0;  // clients the launcher disconnected since the start
    int64_t droppedLines = 0;  // output lines clients missed, far behind, since the start
};

class IListener;

// Creates the socket at path, mode 0600 whatever the umask, or 0660 when
// forGroup also lets the members of the launcher's effective group attach:
// the listener for the service to drive from the frame loop. Never removes or follows anything at path but a
// socket nobody listens on; null after one line that says why, with nothing
// created. The socket file goes when the process ends through exit or
// Service_Close.
IListener* Control_Open(const char* path, bool forGroup);
// The clients since the start, for the metrics page.
const ControlCounts& Control_Counts();

#endif
