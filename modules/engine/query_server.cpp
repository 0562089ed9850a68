#include "query_server.h"

#include "query_protocol.h"
#include "server_status.h"

namespace {

constexpr int kMaxDatagramsPerFrame = 64;

bool IsRequest(int type)
{
    return type == QUERY_PING || type == QUERY_INFO;
}

void Answer(ServerState& server, const QueryHeader& request, const sockaddr_in& from, int64_t now)
{
    unsigned char reply[QUERY_MAX_DATAGRAM];
    QueryHeader header = request;
    header.type = request.type | QUERY_REPLY;
    int length = Query_WriteHeader(header, reply, sizeof(reply));
    if (request.type == QUERY_INFO)
        length += Server_InfoText(server, now, reinterpret_cast<char*>(reply) + length,
                                  static_cast<int>(sizeof(reply)) - length);
    if (server.socket.Send(reply, length, from))
        ++server.queriesServed;
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
        if (Query_ReadHeader(datagram, length, &request) && IsRequest(request.type))
            Answer(server, request, from, now);
    }
}
