#include "telemetry/frame_buckets.h"

#include "telemetry/telemetry.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kMantissaBits = 52;
constexpr int kExponentBias = 1023;
constexpr uint64_t kMantissaMask = (uint64_t{1} << kMantissaBits) - 1;
// The top bits of the mantissa pick a slot; a slot is 0.1% of an octave
// wide, so no more than one native bound falls inside it.
constexpr int kSlotBits = 10;

// The mantissa bits of 2^(j/32) for j up to 31; [32] is above every mantissa.
uint64_t s_subBounds[kNativePerOctave + 1];
// For each slot, the native bucket within the octave of its lowest mantissa.
uint8_t s_slotSub[1 << kSlotBits];
// For each native bucket, the classic bucket of the values just above its
// lower edge; the values further up are in that one or the next.
uint8_t s_classicOf[kNativeBuckets];
bool s_built = false;

uint64_t MantissaOf(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits & kMantissaMask;
}

void BuildSubBounds()
{
    for (int j = 0; j < kNativePerOctave; ++j)
        s_subBounds[j] = MantissaOf(std::exp2(static_cast<double>(j) / kNativePerOctave));
    s_subBounds[kNativePerOctave] = uint64_t{1} << kMantissaBits;
    for (uint64_t slot = 0; slot < (1u << kSlotBits); ++slot) {
        uint64_t lowest = slot << (kMantissaBits - kSlotBits);
        int j = 0;
        while (lowest > s_subBounds[j])
            ++j;
        s_slotSub[slot] = static_cast<uint8_t>(j);
    }
}

// The classic buckets are at least 7% apart, three native ones: a native
// bucket reaches into two classic ones at most. The lower edge is taken a
// little low, so that its rounding never skips a classic bound.
void BuildClassicOf()
{
    for (int i = 0; i < kNativeBuckets; ++i) {
        double lower = std::exp2(static_cast<double>(kNativeFirstIndex + i - 1) / kNativePerOctave) * (1 - 1e-9);
        int classic = 0;
        while (classic < kFrameBuckets && kFrameBucketBounds[classic] < lower)
            ++classic;
        s_classicOf[i] = static_cast<uint8_t>(classic);
    }
}

int ClassicFrom(int classic, double seconds)
{
    return classic < kFrameBuckets && seconds > kFrameBucketBounds[classic] ? classic + 1 : classic;
}

}  // namespace

void FrameBuckets_Init()
{
    if (s_built)
        return;
    BuildSubBounds();
    BuildClassicOf();
    s_built = true;
}

FrameBucket FrameBuckets_Find(double seconds)
{
    if (!(seconds > kNativeZeroThreshold))
        return {ClassicFrom(0, seconds), -1};
    uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof(bits));
    int octave = static_cast<int>(bits >> kMantissaBits) - kExponentBias;
    uint64_t mantissa = bits & kMantissaMask;
    int sub = s_slotSub[mantissa >> (kMantissaBits - kSlotBits)];
    sub += mantissa > s_subBounds[sub] ? 1 : 0;
    int native = octave * kNativePerOctave + sub - kNativeFirstIndex;
    if (native >= kNativeBuckets)
        native = kNativeBuckets - 1;
    return {ClassicFrom(s_classicOf[native], seconds), native};
}
