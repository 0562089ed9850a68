#include "telemetry/frame_buckets.h"

#include <cmath>
#include <limits>

FrameBucketTables g_frameBucketTables;

namespace {

bool s_built = false;

uint64_t MantissaOf(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits & ((uint64_t{1} << 52) - 1);
}

void BuildSubBounds(FrameBucketTables& tables)
{
    for (int j = 0; j < kNativePerOctave; ++j)
        tables.subBounds[j] = MantissaOf(std::exp2(static_cast<double>(j) / kNativePerOctave));
    tables.subBounds[kNativePerOctave] = uint64_t{1} << 52;
    for (uint64_t slot = 0; slot < (1u << kFrameSlotBits); ++slot) {
        uint64_t lowest = slot << (52 - kFrameSlotBits);
        int j = 0;
        while (lowest > tables.subBounds[j])
            ++j;
        tables.slotSub[slot] = static_cast<uint8_t>(j);
    }
}

// The classic buckets are at least 7% apart, three native ones: a native
// bucket reaches into two classic ones at most. The lower edge is taken a
// little low, so that its rounding never skips a classic bound.
void BuildClassicOf(FrameBucketTables& tables)
{
    for (int i = 0; i < kFrameBuckets; ++i)
        tables.classicBounds[i] = kFrameBucketBounds[i];
    tables.classicBounds[kFrameBuckets] = std::numeric_limits<double>::infinity();
    tables.classicOf[0] = 0;
    for (int i = 0; i < kNativeBuckets; ++i) {
        double lower = std::exp2(static_cast<double>(kNativeFirstIndex + i - 1) / kNativePerOctave) * (1 - 1e-9);
        int classic = 0;
        while (classic < kFrameBuckets && kFrameBucketBounds[classic] < lower)
            ++classic;
        tables.classicOf[1 + i] = static_cast<uint8_t>(classic);
    }
}

}  // namespace

void FrameBuckets_Init()
{
    if (s_built)
        return;
    BuildSubBounds(g_frameBucketTables);
    BuildClassicOf(g_frameBucketTables);
    s_built = true;
}
