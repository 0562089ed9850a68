#include "query_rtt.h"

#include "launcher_spawn.h"
#include "query_protocol.h"
#include "server_run.h"
#include "stats.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kReplyWaitMilliseconds = 1000;

int LoopbackSocket(int port)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return fd;
}

int PortOf(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A port free right now: bound, read and released.
int FreePort()
{
    int fd = LoopbackSocket(0);
    int port = PortOf(fd);
    close(fd);
    return port;
}

// Sends one ping to port and waits for its reply; the round trip in
// nanoseconds, or -1 without a reply.
long long Ping(int fd, int port, unsigned token)
{
    QueryHeader header{QUERY_PING, {}};
    for (int i = 0; i < QUERY_TOKEN_SIZE; ++i)
        header.token[i] = static_cast<unsigned char>(token >> (8 * i));
    unsigned char request[QUERY_HEADER_SIZE];
    Query_WriteHeader(header, request, sizeof(request));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(static_cast<unsigned short>(port));
    long long start = MonotonicNanoseconds();
    sendto(fd, request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&server), sizeof(server));
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, kReplyWaitMilliseconds) > 0) {
        // The server's reply, or the echo server's copy of the request,
        // carries the same token; anything else is a late reply.
        unsigned char reply[QUERY_MAX_DATAGRAM];
        QueryHeader answer;
        ssize_t length = recv(fd, reply, sizeof(reply), 0);
        if (length > 0 && Query_ReadHeader(reply, static_cast<int>(length), &answer) &&
            (answer.type & ~QUERY_REPLY) == QUERY_PING &&
            std::equal(answer.token, answer.token + QUERY_TOKEN_SIZE, header.token))
            return MonotonicNanoseconds() - start;
    }
    return -1;
}

std::vector<long long> Measure(int port, int count)
{
    std::vector<long long> trips;
    int fd = LoopbackSocket(0);
    // Until the server answers at all, give it time to start.
    for (int attempt = 0; attempt < 50 && Ping(fd, port, 0) < 0; ++attempt) {
    }
    for (int i = 1; i <= count; ++i) {
        long long trip = Ping(fd, port, static_cast<unsigned>(i));
        if (trip >= 0)
            trips.push_back(trip);
    }
    close(fd);
    return trips;
}

void StopAndWait(pid_t child)
{
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}

}  // namespace

std::vector<long long> ReferenceServerRoundTrips(int strategy, int count)
{
    ServerDir dir(TARN_REFERENCE_ENGINE, TARN_REFERENCE_FILESYSTEM);
    int port = FreePort();
    int idle[2];
    if (pipe2(idle, O_CLOEXEC) != 0)
        return {};
    Launch launch;
    launch.directory = dir.Path();
    launch.arguments = {"-pingboost", std::to_string(strategy), "-port", std::to_string(port)};
    launch.input = idle[0];
    launch.output = "";
    launch.errors = "";
    pid_t child = SpawnLauncher(launch);
    close(idle[0]);
    std::vector<long long> trips = Measure(port, count);
    StopAndWait(child);
    close(idle[1]);
    return trips;
}

std::vector<long long> EchoServerRoundTrips(int count)
{
    int server = LoopbackSocket(0);
    int port = PortOf(server);
    pid_t child = fork();
    if (child == 0) {
        for (;;) {
            unsigned char datagram[QUERY_MAX_DATAGRAM];
            sockaddr_in peer{};
            socklen_t length = sizeof(peer);
            ssize_t size = recvfrom(server, datagram, sizeof(datagram), 0,
                                    reinterpret_cast<sockaddr*>(&peer), &length);
            if (size > 0)
                sendto(server, datagram, size, 0, reinterpret_cast<sockaddr*>(&peer), length);
        }
    }
    close(server);
    std::vector<long long> trips = Measure(port, count);
    StopAndWait(child);
    return trips;
}
