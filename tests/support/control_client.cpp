#include "control_client.h"

#include "monotonic.h"

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ControlClient::ControlClient(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

ControlClient::~ControlClient()
{
    if (fd_ >= 0)
        close(fd_);
}

void ControlClient::Send(const std::string& text) const
{
    if (send(fd_, text.data(), text.size(), MSG_NOSIGNAL) < 0)
        return;  // the launcher closed: what was received tells why
}

bool ControlClient::ReadUntil(const std::string& text, int timeoutMilliseconds)
{
    long long start = MonotonicNanoseconds();
    while (received_.find(text) == std::string::npos) {
        int left = timeoutMilliseconds - MillisecondsSince(start);
        pollfd ready{fd_, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, left) <= 0)
            return false;
        char buffer[65536];
        ssize_t count = recv(fd_, buffer, sizeof(buffer), 0);
        if (count <= 0)
            return received_.find(text) != std::string::npos;
        received_.append(buffer, count);
    }
    return true;
}

bool ControlClient::WaitClosedUnread(int timeoutMilliseconds) const
{
    pollfd hangUp{fd_, POLLRDHUP, 0};
    return poll(&hangUp, 1, timeoutMilliseconds) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP));
}
