#include "notify_listener.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

NotifyListener::NotifyListener(const std::string& address) : address_(address)
{
    sockaddr_un bound{};
    bound.sun_family = AF_UNIX;
    std::memcpy(bound.sun_path, address.data(), address.size());
    if (address[0] == '@')
        bound.sun_path[0] = '\0';
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof(on));
    socklen_t length = offsetof(sockaddr_un, sun_path) + address.size();
    if (bind(socket_, reinterpret_cast<sockaddr*>(&bound), length) != 0)
        std::abort();
}

NotifyListener::~NotifyListener()
{
    close(socket_);
    if (address_[0] != '@')
        unlink(address_.c_str());
}

Datagram NotifyListener::Next(int timeoutMilliseconds)
{
    Datagram received;
    pollfd ready{socket_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMilliseconds) <= 0)
        return received;
    char text[4096];
    iovec part{text, sizeof(text)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t length = recvmsg(socket_, &message, 0);
    received.text.assign(text, length > 0 ? length : 0);
    if (cmsghdr* header = CMSG_FIRSTHDR(&message)) {
        timeval at{};
        std::memcpy(&at, CMSG_DATA(header), sizeof(at));
        received.at = at.tv_sec * 1000000LL + at.tv_usec;
    }
    return received;
}

std::vector<Datagram> NotifyListener::Until(const std::string& line)
{
    std::vector<Datagram> received{Next()};
    while (!received.back().text.empty() && !HasLine(received.back().text, line))
        received.push_back(Next());
    return received;
}

bool HasLine(const std::string& text, const std::string& line)
{
    return ("\n" + text + "\n").find("\n" + line + "\n") != std::string::npos;
}
