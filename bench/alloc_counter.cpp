// Preloaded into the launcher by the benchmarks: counts heap allocations
// (malloc, calloc, realloc) so the engine can read how many a frame makes.
#include <cstddef>
#include <dlfcn.h>

namespace {

long s_count = 0;

// dlsym itself may allocate during the first lookup; that early memory
// comes from a small static pool.
alignas(16) char s_pool[4096];
size_t s_poolUsed = 0;
bool s_resolving = false;

void* PoolAllocate(size_t size)
{
    size = (size + 15) & ~size_t{15};
    if (s_poolUsed + size > sizeof(s_pool))
        return nullptr;
    void* block = s_pool + s_poolUsed;
    s_poolUsed += size;
    return block;
}

template <typename Function>
Function Next(const char* name)
{
    s_resolving = true;
    Function next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    s_resolving = false;
    return next;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* malloc(size_t size)
{
    if (s_resolving)
        return PoolAllocate(size);
    static auto next = Next<void* (*)(size_t)>("malloc");
    ++s_count;
    return next(size);
}

__attribute__((visibility("default"))) void* calloc(size_t count, size_t size)
{
    if (s_resolving)
        return PoolAllocate(count * size);  // the pool is zeroed static memory
    static auto next = Next<void* (*)(size_t, size_t)>("calloc");
    ++s_count;
    return next(count, size);
}

__attribute__((visibility("default"))) void* realloc(void* block, size_t size)
{
    static auto next = Next<void* (*)(void*, size_t)>("realloc");
    ++s_count;
    return next(block, size);
}

__attribute__((visibility("default"))) void free(void* block)
{
    if (block >= static_cast<void*>(s_pool) && block < static_cast<void*>(s_pool + sizeof(s_pool)))
        return;
    static auto next = Next<void (*)(void*)>("free");
    next(block);
}

__attribute__((visibility("default"))) long tarn_alloc_count()
{
    return s_count;
}
}
