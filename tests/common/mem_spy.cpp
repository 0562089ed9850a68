// Link-time wraps of Mem_ZeroMalloc and Mem_Free (see mem_spy.h).

#include "mem_spy.h"

#include <cstddef>

extern "C" void* __real_Mem_ZeroMalloc(size_t size);
extern "C" void __real_Mem_Free(void* block);

namespace memspy {

bool failAllocations = false;
bool recordReleases = false;
std::vector<void*> released;

void Reset()
{
    failAllocations = false;
    recordReleases = false;
    released.clear();
}

}  // namespace

extern "C" void* __wrap_Mem_ZeroMalloc(size_t size)
{
    if (memspy::failAllocations)
        return nullptr;
    return __real_Mem_ZeroMalloc(size);
}

extern "C" void __wrap_Mem_Free(void* block)
{
    if (memspy::recordReleases)
        memspy::released.push_back(block);
    __real_Mem_Free(block);
}
