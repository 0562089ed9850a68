// The address a listener of the launcher binds, as an operator writes it:
// [ADDRESS:]PORT. Names are never resolved: a lookup could wait, and a
// name could lead the listener somewhere the operator did not mean.
#ifndef TARN_COMMON_LISTEN_ADDRESS_H
#define TARN_COMMON_LISTEN_ADDRESS_H

#include <sys/socket.h>

struct ListenAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

// The port in text, decimal digits only, from 1 to 65535; 0 otherwise.
int Address_ParsePort(const char* text);

// Reads text: ADDRESS an IPv4 literal or an IPv6 literal in brackets
// ("[::1]:30200"), 127.0.0.1 when left out; PORT a decimal number from 1 to
// 65535. False for anything else.
bool Address_ParseListen(const char* text, ListenAddress& out);

#endif
