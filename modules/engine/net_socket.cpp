#include "net_socket.h"

#include "console_print.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

void Net_AddressText(const sockaddr_in& address, char (&out)[kAddressTextSize])
{
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, ip, sizeof(ip));
    std::snprintf(out, sizeof(out), "%s:%u", ip, static_cast<unsigned>(ntohs(address.sin_port)));
}

// No SO_REUSEADDR: on UDP it would let a second server share a port that
// is already taken instead of failing.
bool NetSocket::Open(const sockaddr_in& address)
{
    Close();
    descriptor_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor_ < 0 ||
        bind(descriptor_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ReportOpenFailure(address, errno);
        Close();
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (getsockname(descriptor_, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        bound = address;
    Net_AddressText(bound, addressText_);
    return true;
}

void NetSocket::ReportOpenFailure(const sockaddr_in& address, int error) const
{
    char text[kAddressTextSize];
    Net_AddressText(address, text);
    if (error == EADDRINUSE)
        Con_Printf("UDP port %s is already in use; choose another with -port.\n", text);
    else if (error == EADDRNOTAVAIL)
        Con_Printf("Cannot listen on %s: not an address of this machine (see -ip).\n", text);
    else
        Con_Printf("Cannot listen on UDP %s: %s.\n", text, std::strerror(error));
}

void NetSocket::Close()
{
    if (descriptor_ >= 0)
        close(descriptor_);
    descriptor_ = -1;
    addressText_[0] = '\0';
}

int NetSocket::Receive(unsigned char* buffer, int size, sockaddr_in* from) const
{
    if (descriptor_ < 0)
        return -1;
    socklen_t length = sizeof(*from);
    ssize_t received = recvfrom(descriptor_, buffer, static_cast<size_t>(size), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(from), &length);
    return received < 0 ? -1 : static_cast<int>(received);
}

bool NetSocket::Send(const unsigned char* data, int length, const sockaddr_in& to) const
{
    if (descriptor_ < 0)
        return false;
    ssize_t sent = sendto(descriptor_, data, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return sent == length;
}

bool NetSocket::Wait(int milliseconds) const
{
    pollfd waiting{descriptor_, POLLIN, 0};
    return descriptor_ >= 0 && poll(&waiting, 1, milliseconds) > 0;
}
