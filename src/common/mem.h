#ifndef TARN_COMMON_MEM_H
#define TARN_COMMON_MEM_H

// Heap wrappers: the C library's heap behind one set of names. They keep no
// state and report nothing; a null result is the only sign of exhaustion.
// Blocks are ordinary heap blocks, so they mix freely with malloc and free.
// Named by the design: the whole set, with C linkage, though only the
// object list calls two of them; the executable exports none of them.

#include <cstddef>

extern "C" {

void* Mem_Malloc(size_t size);
void* Mem_ZeroMalloc(size_t size);
void* Mem_Realloc(void* block, size_t size);
void* Mem_Calloc(size_t count, size_t size);
char* Mem_Strdup(const char* text);
void Mem_Free(void* block);

}  // extern "C"

#endif
