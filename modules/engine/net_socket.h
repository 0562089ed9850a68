// The server's one UDP socket, non-blocking.
#ifndef TARN_MODULES_ENGINE_NET_SOCKET_H
#define TARN_MODULES_ENGINE_NET_SOCKET_H

#include <netinet/in.h>

// "255.255.255.255:65535" and the terminator.
constexpr int kAddressTextSize = 32;

// Writes "a.b.c.d:port" into out.
void Net_AddressText(const sockaddr_in& address, char (&out)[kAddressTextSize]);

class NetSocket {
public:
    // Binds address; false with the reason printed.
    bool Open(const sockaddr_in& address);
    // Safe to call when closed.
    void Close();
    bool IsOpen() const { return descriptor_ >= 0; }

    // One waiting datagram into buffer: its length, or -1 when none waits.
    int Receive(unsigned char* buffer, int size, sockaddr_in* from) const;
    // True when the whole datagram was handed to the system.
    bool Send(const unsigned char* data, int length, const sockaddr_in& to) const;
    // Waits up to milliseconds for a datagram; true when one waits. A
    // caught signal ends the wait early.
    bool Wait(int milliseconds) const;

    // The bound address, with the port the system chose for port 0.
    const char* AddressText() const { return addressText_; }

private:
    void ReportOpenFailure(const sockaddr_in& address, int error) const;

    int descriptor_ = -1;
    char addressText_[kAddressTextSize] = "";
};

#endif
