#ifndef TARN_TESTS_COMMON_MEM_SPY_H
#define TARN_TESTS_COMMON_MEM_SPY_H

// Controls over the heap calls the object list makes. The test executable is
// linked with --wrap=Mem_ZeroMalloc and --wrap=Mem_Free, so the list's calls
// come here first and then go on to the real functions.

#include <vector>

namespace memspy {

extern bool failAllocations;        // while set, Mem_ZeroMalloc returns null
extern bool recordReleases;         // while set, every Mem_Free block is noted
extern std::vector<void*> released; // blocks noted, in order

// Clears the record and stops failing and recording.
void Reset();

}  // namespace

#endif
