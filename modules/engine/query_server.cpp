#include "query_server.h"

#include "query_protocol.h"
#include "server_status.h"

namespace {

constexpr int kMaxDatagramsPerFrame = 64;

// A ping reply is the header alone, never longer than the ping.
void AnswerPing(ServerState& server, const QueryHeader& request, const sockaddr_in& from)
{
    unsigned char reply[QUERY_HEADER_SIZE];
    QueryHeader header = request;
    header.type = QUERY_PING | QUERY_REPLY;
    int length = Query_WriteHeader(header, reply, sizeof(reply));
    if (server.socket.Send(reply, length, from))
        ++server.queriesServed;
}

void SendInfo(ServerState& server, const QueryHeader& request, const sockaddr_in& from, int64_t now)
{
    unsigned char reply[QUERY_MAX_DATAGRAM];
    QueryHeader header = request;
    header.type = QUERY_INFO | QUERY_REPLY;
    int length = Query_WriteHeader(header, reply, sizeof(reply));
    length += Server_InfoText(server, now, reinterpret_cast<char*>(reply) + length,
                              static_cast<int>(sizeof(reply)) - length);
    if (server.socket.Send(reply, length, from))
        ++server.queriesServed;
}

// The info goes only to an address that echoed its challenge; any other
// gets a challenge reply, which is exactly as long as the shortest info
// request it answers. A request too short to carry a challenge gets nothing.
void AnswerInfo(ServerState& server, const unsigned char* datagram, int length,
                const QueryHeader& request, const sockaddr_in& from, int64_t now)
{
    QueryChallenge challenge;
    if (!Query_ReadChallenge(datagram, length, challenge))
        return;
    if (server.challenge.Accepts(from, now, challenge)) {
        SendInfo(server, request, from, now);
        return;
    }
    server.challenge.Make(from, now, challenge);
    QueryHeader header = request;
    header.type = QUERY_CHALLENGE_REPLY;
    unsigned char reply[QUERY_CHALLENGED_SIZE];
    server.socket.Send(reply, Query_WriteChallenged(header, challenge, reply, sizeof(reply)), from);
}

}  // namespace

void Query_ServeFrame(ServerState& server, int64_t now)
{
    unsigned char datagram[QUERY_MAX_DATAGRAM];
    for (int count = 0; count < kMaxDatagramsPerFrame; ++count) {
        sockaddr_in from{};
        int length = server.socket.Receive(datagram, sizeof(datagram), &from);
        if (length < 0)
            return;
        QueryHeader request;
        if (!Query_ReadHeader(datagram, length, &request))
            continue;
        if (request.type == QUERY_PING)
            AnswerPing(server, request, from);
        else if (request.type == QUERY_INFO)
            AnswerInfo(server, datagram, length, request, from, now);
    }
}
