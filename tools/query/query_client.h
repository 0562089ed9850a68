// One server's query socket on the client side.
#ifndef TARN_TOOLS_QUERY_QUERY_CLIENT_H
#define TARN_TOOLS_QUERY_QUERY_CLIENT_H

#include "query_protocol.h"

#include <cstdint>

// "host:port" of the longest IPv4 address and the terminator.
constexpr int kServerTextSize = 32;

enum ExchangeResult {
    EXCHANGE_REPLIED,
    EXCHANGE_TIMED_OUT,
    EXCHANGE_REFUSED,  // nothing listens there
};

class QueryClient {
public:
    ~QueryClient();
    // Resolves host (a name or an IPv4 address) and port, and connects a
    // UDP socket to it; false with the reason printed.
    bool Connect(const char* host, const char* port);
    const char* ServerText() const { return serverText_; }

    // Sends a request of type with token and waits up to waitMilliseconds
    // for its reply; what follows the reply's header goes to payload
    // (terminated, cut to payloadSize - 1) when payload is not null. An
    // info request answered with a challenge is sent again with it, within
    // the same wait.
    ExchangeResult Exchange(int type, uint32_t token, int waitMilliseconds, char* payload,
                            int payloadSize);
    // How many bytes the last reply put in payload: it may hold NULs.
    int PayloadLength() const { return payloadLength_; }

private:
    bool SendRequest(const QueryHeader& request);

    int descriptor_ = -1;
    QueryChallenge challenge_ = {};
    char serverText_[kServerTextSize] = "";
    int payloadLength_ = 0;
};

#endif
