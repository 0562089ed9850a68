// SipHash-2-4: a 64-bit pseudo-random function of a message under a 128-bit
// secret key. Without the key its outputs cannot be told from random ones,
// so a value made with it cannot be forged by someone who never saw it.
#ifndef TARN_MODULES_ENGINE_KEYED_HASH_H
#define TARN_MODULES_ENGINE_KEYED_HASH_H

#include <cstdint>

constexpr int kHashKeySize = 16;

using HashKey = unsigned char[kHashKeySize];

uint64_t Hash_Keyed(const HashKey& key, const unsigned char* data, int length);

#endif
