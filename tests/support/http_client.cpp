#include "http_client.h"

#include "monotonic.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int ConnectLoopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    close(fd);
    return -1;
}

std::string ReadUntilClosed(int fd, int timeoutMilliseconds, bool* closed)
{
    std::string received;
    long long start = MonotonicNanoseconds();
    bool ended = false;
    for (int left = timeoutMilliseconds; left > 0 && !ended; left = timeoutMilliseconds - MillisecondsSince(start)) {
        pollfd ready{fd, POLLIN, 0};
        char buffer[4096];
        if (poll(&ready, 1, left) <= 0)
            break;
        ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        ended = got <= 0;  // the end, or a reset
        received.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }
    if (closed)
        *closed = ended;
    close(fd);
    return received;
}

std::string HttpGet(int port, const std::string& target)
{
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    int fd = ConnectLoopback(port);
    if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(fd);
        fd = -1;
    }
    std::string answer = fd < 0 ? "" : ReadUntilClosed(fd, 10000);
    size_t body = answer.find("\r\n\r\n");
    return answer.rfind("HTTP/1.1 200 ", 0) == 0 && body != std::string::npos ? answer.substr(body + 4) : "";
}
