#include "common/socket.h"

#include <cerrno>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kBacklog = 16;

}  // namespace

int Socket_Open(int family, int type)
{
    return socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int Socket_Listen(const sockaddr* address, socklen_t length)
{
    int fd = Socket_Open(address->sa_family, SOCK_STREAM);
    if (fd < 0)
        return -1;
    // A restarted launcher can bind a port again while the last one's
    // connections linger; a port that another socket listens on stays
    // refused.
    int on = 1;
    if (address->sa_family != AF_UNIX)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    bool bound = bind(fd, address, length) == 0;
    if (bound && listen(fd, kBacklog) == 0)
        return fd;
    int failure = errno;
    if (bound && address->sa_family == AF_UNIX)
        unlink(reinterpret_cast<const sockaddr_un*>(address)->sun_path);
    close(fd);
    errno = failure;
    return -1;
}

int Socket_Accept(int listener)
{
    return accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}
