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
