// Heap wrappers over malloc, realloc, calloc, strdup and free.

#include "common/mem.h"

#include <cstdlib>
#include <cstring>

extern "C" {

void* Mem_Malloc(size_t size)
{
    return std::malloc(size);
}

// Allocates a block with every byte zero; on failure touches nothing.
void* Mem_ZeroMalloc(size_t size)
{
    void* block = std::malloc(size);
    if (block)
        std::memset(block, 0, size);
    return block;
}

void* Mem_Realloc(void* block, size_t size)
{
    return std::realloc(block, size);
}

void* Mem_Calloc(size_t count, size_t size)
{
    return std::calloc(count, size);
}

// A null text has no copy; strdup itself would crash on it.
char* Mem_Strdup(const char* text)
{
    if (!text)
        return nullptr;
    return strdup(text);
}

void Mem_Free(void* block)
{
    std::free(block);
}

}  // extern "C"
