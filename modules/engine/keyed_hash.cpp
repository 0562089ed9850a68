#include "keyed_hash.h"

namespace {

struct SipState {
    uint64_t v0, v1, v2, v3;
};

uint64_t RotateLeft(uint64_t value, int bits)
{
    return (value << bits) | (value >> (64 - bits));
}

// Eight bytes as a little-endian number, whatever the machine's order.
uint64_t LoadLittleEndian(const unsigned char* bytes, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

void Round(SipState& s)
{
    s.v0 += s.v1;
    s.v1 = RotateLeft(s.v1, 13) ^ s.v0;
    s.v0 = RotateLeft(s.v0, 32);
    s.v2 += s.v3;
    s.v3 = RotateLeft(s.v3, 16) ^ s.v2;
    s.v0 += s.v3;
    s.v3 = RotateLeft(s.v3, 21) ^ s.v0;
    s.v2 += s.v1;
    s.v1 = RotateLeft(s.v1, 17) ^ s.v2;
    s.v2 = RotateLeft(s.v2, 32);
}

void Absorb(SipState& s, uint64_t word)
{
    s.v3 ^= word;
    Round(s);
    Round(s);
    s.v0 ^= word;
}

}  // namespace

uint64_t Hash_Keyed(const HashKey& key, const unsigned char* data, int length)
{
    uint64_t k0 = LoadLittleEndian(key, 8);
    uint64_t k1 = LoadLittleEndian(key + 8, 8);
    SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL,
               k0 ^ 0x6c7967656e657261ULL, k1 ^ 0x7465646279746573ULL};
    int whole = length - length % 8;
    for (int at = 0; at < whole; at += 8)
        Absorb(s, LoadLittleEndian(data + at, 8));
    Absorb(s, (static_cast<uint64_t>(length) << 56) | LoadLittleEndian(data + whole, length - whole));
    s.v2 ^= 0xff;
    for (int i = 0; i < 4; ++i)
        Round(s);
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}
