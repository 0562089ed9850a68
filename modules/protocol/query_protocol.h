// The reference server's UDP query protocol, shared by the engine and the
// query client.
//
// Every datagram, request or reply, starts with a 10-byte header:
//
//   offset 0  4 bytes  magic "TARN"
//   offset 4  1 byte   protocol version, QUERY_VERSION
//   offset 5  1 byte   type: QUERY_PING or QUERY_INFO; a reply has
//                      QUERY_REPLY added
//   offset 6  4 bytes  token chosen by the client and echoed in the reply
//
// A ping reply is the header alone. An info reply carries text after the
// header: "key=value" lines, each ending in "\n". Bytes after a request's
// header are ignored; anything else (short, another magic or version, a
// reply type) is dropped without an answer.
#ifndef TARN_MODULES_PROTOCOL_QUERY_PROTOCOL_H
#define TARN_MODULES_PROTOCOL_QUERY_PROTOCOL_H

constexpr int QUERY_DEFAULT_PORT = 30100;
constexpr int QUERY_VERSION = 1;
constexpr int QUERY_HEADER_SIZE = 10;
constexpr int QUERY_TOKEN_SIZE = 4;
// Small enough to pass any link unfragmented.
constexpr int QUERY_MAX_DATAGRAM = 1200;

enum {
    QUERY_PING = 0x01,
    QUERY_INFO = 0x02,
    QUERY_REPLY = 0x80,
};

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

#endif
