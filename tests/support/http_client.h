// The tests' side of an HTTP exchange with a server on 127.0.0.1: raw
// bytes out, everything that comes back until the server closes.
#ifndef TARN_TESTS_SUPPORT_HTTP_CLIENT_H
#define TARN_TESTS_SUPPORT_HTTP_CLIENT_H

#include <string>

// A connection to 127.0.0.1:port, or -1 when nothing listens there.
int ConnectLoopback(int port);

// What fd receives until the peer closes it (then closed is true) or
// timeoutMilliseconds pass; closes fd.
std::string ReadUntilClosed(int fd, int timeoutMilliseconds, bool* closed = nullptr);

// The body of a 200 answer to GET target, within 10 s, or "".
std::string HttpGet(int port, const std::string& target);

#endif
