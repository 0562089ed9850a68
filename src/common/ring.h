// Bytes in a ring of fixed size: what passes its end goes on at its start.
// The output channel's queue and the output history keep their bytes so.
#ifndef TARN_COMMON_RING_H
#define TARN_COMMON_RING_H

#include <cstddef>
#include <cstring>

// How many of the count bytes from offset (below size) lie in one piece
// before the ring's end.
inline size_t Ring_Piece(size_t size, size_t offset, size_t count)
{
    return count < size - offset ? count : size - offset;
}

// Copies length bytes (at most size) of text into the ring from offset
// (below size) on.
inline void Ring_Write(char* ring, size_t size, size_t offset, const char* text, size_t length)
{
    size_t first = Ring_Piece(size, offset, length);
    std::memcpy(ring + offset, text, first);
    std::memcpy(ring, text + first, length - first);
}

#endif
