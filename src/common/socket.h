// Sockets that never make the launcher wait: every one is non-blocking and
// close-on-exec, so that neither a frame nor a program the engine starts
// holds on to them.
#ifndef TARN_COMMON_SOCKET_H
#define TARN_COMMON_SOCKET_H

#include <sys/socket.h>

// A socket of family and type; -1 with errno set.
int Socket_Open(int family, int type);

// A stream socket bound to address and listening; -1 with errno set by the
// step that failed, and then nothing is left open, nor a Unix socket's file
// behind.
int Socket_Listen(const sockaddr* address, socklen_t length);

// The next connection waiting at listener; -1 with errno set when none
// waits or taking it failed.
int Socket_Accept(int listener);

#endif
