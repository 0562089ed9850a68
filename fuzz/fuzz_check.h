// Invariant checks for the fuzz targets.
#ifndef TARN_FUZZ_FUZZ_CHECK_H
#define TARN_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

// Names the broken invariant and aborts, so that libFuzzer keeps the input
// as a crash. Active in every build type: NDEBUG does not turn it off.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : Fuzz_Fail(#condition, __FILE__, __LINE__))

[[noreturn]] inline void Fuzz_Fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#endif
