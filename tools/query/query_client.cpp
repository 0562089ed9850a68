#include "query_client.h"

#include "common/clock.h"
#include "query_protocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMaxChallenges = 3;

void TokenBytes(uint32_t token, unsigned char (&out)[QUERY_TOKEN_SIZE])
{
    std::memcpy(out, &token, sizeof(out));
}

// The number of bytes copied.
int CopyPayload(const unsigned char* data, int length, char* payload, int size)
{
    if (!payload || size <= 0)
        return 0;
    int count = length < size - 1 ? length : size - 1;
    std::memcpy(payload, data, static_cast<size_t>(count));
    payload[count] = '\0';
    return count;
}

}  // namespace

QueryClient::~QueryClient()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool QueryClient::Connect(const char* host, const char* port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int error = getaddrinfo(host, port, &hints, &found);
    if (error != 0) {
        std::printf("Cannot find %s:%s: %s\n", host, port, gai_strerror(error));
        return false;
    }
    auto* address = reinterpret_cast<sockaddr_in*>(found->ai_addr);
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address->sin_addr, ip, sizeof(ip));
    std::snprintf(serverText_, sizeof(serverText_), "%s:%u", ip, ntohs(address->sin_port));
    descriptor_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool connected = descriptor_ >= 0 && connect(descriptor_, found->ai_addr, found->ai_addrlen) == 0;
    if (!connected)
        std::printf("Cannot open a UDP socket to %s: %s\n", serverText_, std::strerror(errno));
    freeaddrinfo(found);
    return connected;
}

// An info request carries the challenge the server gave last, zeros before
// the first.
bool QueryClient::SendRequest(const QueryHeader& request)
{
    unsigned char datagram[QUERY_CHALLENGED_SIZE];
    int length = request.type == QUERY_INFO
                     ? Query_WriteChallenged(request, challenge_, datagram, sizeof(datagram))
                     : Query_WriteHeader(request, datagram, sizeof(datagram));
    return send(descriptor_, datagram, static_cast<size_t>(length), 0) == length;
}

ExchangeResult QueryClient::Exchange(int type, uint32_t token, int waitMilliseconds, char* payload,
                                      int payloadSize)
{
    QueryHeader request{type, {}};
    TokenBytes(token, request.token);
    if (!SendRequest(request))
        return errno == ECONNREFUSED ? EXCHANGE_REFUSED : EXCHANGE_TIMED_OUT;

    unsigned char datagram[QUERY_MAX_DATAGRAM];
    int challenges = 0;
    int64_t deadline = Clock_Microseconds() + int64_t{waitMilliseconds} * 1000;
    for (int64_t left = deadline - Clock_Microseconds(); left > 0;
         left = deadline - Clock_Microseconds()) {
        pollfd readable{descriptor_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>((left + 999) / 1000)) <= 0)
            continue;
        ssize_t received = recv(descriptor_, datagram, sizeof(datagram), 0);
        if (received < 0 && errno == ECONNREFUSED)
            return EXCHANGE_REFUSED;
        int length = static_cast<int>(received);
        QueryHeader reply;
        // A late reply to an earlier request carries another token.
        if (received < 0 || !Query_ReadHeader(datagram, length, &reply) ||
            std::memcmp(reply.token, request.token, QUERY_TOKEN_SIZE) != 0)
            continue;
        // The server asks for its challenge back; a server that keeps
        // asking is not believed forever.
        if (type == QUERY_INFO && reply.type == QUERY_CHALLENGE_REPLY &&
            challenges < kMaxChallenges && Query_ReadChallenge(datagram, length, challenge_)) {
            ++challenges;
            SendRequest(request);
            continue;
        }
        if (reply.type != (type | QUERY_REPLY))
            continue;
        payloadLength_ = CopyPayload(datagram + QUERY_HEADER_SIZE, length - QUERY_HEADER_SIZE, payload,
                                     payloadSize);
        return EXCHANGE_REPLIED;
    }
    return EXCHANGE_TIMED_OUT;
}
