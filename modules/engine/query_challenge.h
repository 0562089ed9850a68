// The challenges of the query protocol: a keyed hash of the client's
// address, its port and the current 30-second window, under a key drawn from
// the system's random source at every start. Only a client that receives
// what is sent to its address can echo one back, so an echoed challenge
// proves the address; nothing is kept per client.
#ifndef TARN_MODULES_ENGINE_QUERY_CHALLENGE_H
#define TARN_MODULES_ENGINE_QUERY_CHALLENGE_H

#include "keyed_hash.h"
#include "query_protocol.h"

#include <cstdint>
#include <netinet/in.h>

class QueryChallenger {
public:
    // Draws a fresh key; false with the reason printed.
    bool Start();
    // The challenge for client at time now (microseconds).
    void Make(const sockaddr_in& client, int64_t now, QueryChallenge& out) const;
    // True for the challenge of client in this window or the one before, so
    // that a challenge lives between 30 and 60 seconds.
    bool Accepts(const sockaddr_in& client, int64_t now, const QueryChallenge& challenge) const;

private:
    void ForWindow(const sockaddr_in& client, int64_t window, QueryChallenge& out) const;

    HashKey key_ = {};
};

#endif
