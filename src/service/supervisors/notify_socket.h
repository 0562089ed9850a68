// A datagram socket towards a service manager's notification address, as
// NOTIFY_SOCKET names it: an absolute path, or "@name" in the abstract
// namespace.
#ifndef TARN_SERVICE_SUPERVISORS_NOTIFY_SOCKET_H
#define TARN_SERVICE_SUPERVISORS_NOTIFY_SOCKET_H

#include <cstddef>
#include <sys/socket.h>
#include <sys/un.h>

struct NotifySocket {
    int fd = -1;              // non-blocking, close-on-exec; -1 until opened
    sockaddr_un address{};    // where every datagram goes
    socklen_t addressLength = 0;
};

// Opens the socket for an address text; false when the text is neither a
// path nor "@name", does not fit, or no socket can be made. An address
// that names nothing is no failure: the datagrams are dropped.
bool Notify_Open(NotifySocket& notify, const char* addressText);

// Why the address text can never be used, for a warning, or null: neither
// a path nor "@name", too long, or a path to something that is no socket.
// A path that names nothing yet is no reason.
const char* Notify_Unusable(const char* addressText);

// Sends one datagram without waiting; false when it was dropped.
bool Notify_Send(const NotifySocket& notify, const char* text, size_t length);

// Closes the socket; safe to call when it is not open.
void Notify_Close(NotifySocket& notify);

#endif
