// The reference server's UDP query protocol, shared by the engine and the
// query client.
//
// Every datagram, request or reply, starts with a 10-byte header:
//
//   offset 0  4 bytes  magic "TARN"
//   offset 4  1 byte   protocol version, QUERY_VERSION
//   offset 5  1 byte   type: QUERY_PING or QUERY_INFO; a reply has
//                      QUERY_REPLY added, or is QUERY_CHALLENGE_REPLY
//   offset 6  4 bytes  token chosen by the client and echoed in the reply
//
// A ping reply is the header alone. An info request carries an 8-byte
// challenge after the header, zeros until the server has given one. The
// server answers it with its info only when the challenge is one it gave to
// that address and port lately; otherwise with a challenge reply, the header
// and a fresh challenge, no longer than the request. So until an address has
// shown that it receives what is sent to it, it gets no more bytes than it
// sent: a spoofed source cannot use the server to amplify. An info reply
// carries text after the header: "key=value" lines, each ending in "\n".
// Bytes after what a request needs are ignored; anything else (short,
// another magic or version, a reply type) is dropped without an answer.
#ifndef TARN_MODULES_PROTOCOL_QUERY_PROTOCOL_H
#define TARN_MODULES_PROTOCOL_QUERY_PROTOCOL_H

constexpr int QUERY_DEFAULT_PORT = 30100;
constexpr int QUERY_VERSION = 1;
constexpr int QUERY_HEADER_SIZE = 10;
constexpr int QUERY_TOKEN_SIZE = 4;
constexpr int QUERY_CHALLENGE_SIZE = 8;
// An info request, and a challenge reply: the header and a challenge.
constexpr int QUERY_CHALLENGED_SIZE = QUERY_HEADER_SIZE + QUERY_CHALLENGE_SIZE;
// Small enough to pass any link unfragmented.
constexpr int QUERY_MAX_DATAGRAM = 1200;

enum {
    QUERY_PING = 0x01,
    QUERY_INFO = 0x02,
    QUERY_REPLY = 0x80,
    QUERY_CHALLENGE_REPLY = 0x83,
};

using QueryChallenge = unsigned char[QUERY_CHALLENGE_SIZE];

struct QueryHeader {
    int type;
    unsigned char token[QUERY_TOKEN_SIZE];
};

// Writes header into out; returns QUERY_HEADER_SIZE, or -1 when size is
// too small.
int Query_WriteHeader(const QueryHeader& header, unsigned char* out, int size);

// Reads the header of a datagram of length bytes; false when it is not one
// of ours.
bool Query_ReadHeader(const unsigned char* data, int length, QueryHeader* header);

// Writes header and challenge into out (an info request or a challenge
// reply); returns QUERY_CHALLENGED_SIZE, or -1 when size is too small.
int Query_WriteChallenged(const QueryHeader& header, const QueryChallenge& challenge,
                          unsigned char* out, int size);

// Reads the challenge after the header; false when the datagram is too
// short to carry one.
bool Query_ReadChallenge(const unsigned char* data, int length, QueryChallenge& challenge);

#endif
