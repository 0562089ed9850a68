// The heap wrappers: zero filling, null on exhaustion, copies, and blocks
// shared with the C library.

#include "common/mem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>

#ifdef __SANITIZE_ADDRESS__
// Let an impossible request come back null, as it does without the sanitizer.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

// The sanitizer's own count of the heap in use (its allocator replaces the
// C library's).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr size_t kNodeSize = 3 * sizeof(void*);
constexpr size_t kPageSize = 4096;

bool AllZero(const void* block, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// Bytes the heap has handed out and not taken back.
size_t HeapInUse()
{
#ifdef __SANITIZE_ADDRESS__
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Leaves a released block of this size full of non-zero bytes, which the
// heap is likely to hand out again for the next request of the same size.
void DirtyTheHeap(size_t size)
{
    void* block = std::malloc(size);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xA5, size);
    std::free(block);
}

}  // namespace

TEST(MemZeroMallocTest, BlockReadsAsZeroEvenWhenTheHeapReusesDirtyMemory)
{
    for (size_t size : {kNodeSize, kPageSize}) {
        DirtyTheHeap(size);
        void* block = Mem_ZeroMalloc(size);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(AllZero(block, size)) << size;
        Mem_Free(block);
    }
}

TEST(MemZeroMallocTest, ZeroBytesGivesWhatTheCLibraryGives)
{
    void* plain = std::malloc(0);
    void* zeroed = Mem_ZeroMalloc(0);
    EXPECT_EQ(!zeroed, !plain);
    std::free(plain);
    Mem_Free(zeroed);
}

TEST(MemAllocationTest, ImpossibleRequestsReturnNull)
{
    volatile size_t huge = SIZE_MAX;
    EXPECT_EQ(Mem_Malloc(huge), nullptr);
    EXPECT_EQ(Mem_ZeroMalloc(huge), nullptr);
    EXPECT_EQ(Mem_Calloc(huge, 2), nullptr);
    void* block = Mem_Malloc(16);
    EXPECT_EQ(Mem_Realloc(block, huge), nullptr);
    Mem_Free(block);
}

TEST(MemStrdupTest, CopyIsEqualButSeparateAndNullHasNoCopy)
{
    const char original[] = "echo hello";
    char* copy = Mem_Strdup(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, original);
    EXPECT_NE(copy, original);
    Mem_Free(copy);
    char* empty = Mem_Strdup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');
    Mem_Free(empty);
    EXPECT_EQ(Mem_Strdup(nullptr), nullptr);
}

TEST(MemFreeTest, NullIsIgnoredAndBlocksMixWithTheCLibrary)
{
    // Blocks too large for the heap's per-thread cache, which would keep
    // them counted as in use after they are released.
    constexpr size_t kSize = 64 * 1024;
    const std::string text(kSize, 't');
    size_t before = HeapInUse();
    void* ours = Mem_Malloc(kSize);
    void* theirs = std::malloc(kSize);
    char* copy = strdup(text.c_str());
    size_t held = HeapInUse();
    std::free(ours);
    Mem_Free(theirs);
    Mem_Free(copy);
    Mem_Free(nullptr);
    EXPECT_GE(held, before + 3 * kSize);
    EXPECT_EQ(HeapInUse(), before);
}
