#include "query_protocol.h"

#include <cstring>

namespace {

constexpr char kMagic[] = "TARN";
constexpr int kMagicSize = 4;
constexpr int kVersionOffset = 4;
constexpr int kTypeOffset = 5;
constexpr int kTokenOffset = 6;

}  // namespace

int Query_WriteHeader(const QueryHeader& header, unsigned char* out, int size)
{
    if (size < QUERY_HEADER_SIZE)
        return -1;
    std::memcpy(out, kMagic, kMagicSize);
    out[kVersionOffset] = QUERY_VERSION;
    out[kTypeOffset] = static_cast<unsigned char>(header.type);
    std::memcpy(out + kTokenOffset, header.token, QUERY_TOKEN_SIZE);
    return QUERY_HEADER_SIZE;
}

bool Query_ReadHeader(const unsigned char* data, int length, QueryHeader* header)
{
    if (length < QUERY_HEADER_SIZE || std::memcmp(data, kMagic, kMagicSize) != 0 ||
        data[kVersionOffset] != QUERY_VERSION)
        return false;
    header->type = data[kTypeOffset];
    std::memcpy(header->token, data + kTokenOffset, QUERY_TOKEN_SIZE);
    return true;
}

int Query_WriteChallenged(const QueryHeader& header, const QueryChallenge& challenge,
                          unsigned char* out, int size)
{
    if (size < QUERY_CHALLENGED_SIZE)
        return -1;
    Query_WriteHeader(header, out, size);
    std::memcpy(out + QUERY_HEADER_SIZE, challenge, QUERY_CHALLENGE_SIZE);
    return QUERY_CHALLENGED_SIZE;
}

bool Query_ReadChallenge(const unsigned char* data, int length, QueryChallenge& challenge)
{
    if (length < QUERY_CHALLENGED_SIZE)
        return false;
    std::memcpy(challenge, data + QUERY_HEADER_SIZE, QUERY_CHALLENGE_SIZE);
    return true;
}
