// The buckets of a frame histogram that a duration falls in, classic and
// native (telemetry.h), found in constant time: the native index from the
// bits of the double and two small tables, the classic one from the native
// one and a single comparison. No search, no logarithm; inline, since it
// runs three times a frame.
#ifndef TARN_TELEMETRY_FRAME_BUCKETS_H
#define TARN_TELEMETRY_FRAME_BUCKETS_H

#include "telemetry/telemetry.h"

#include <cstdint>
#include <cstring>

struct FrameBucket {
    int classic;  // 0 .. kFrameBuckets, the last without bound
    int native;   // 0 .. kNativeBuckets - 1, or -1 for the zero bucket
};

// The top bits of the mantissa pick a slot; a slot is 0.1% of an octave
// wide, so no more than one native bound falls inside it.
constexpr int kFrameSlotBits = 10;

struct FrameBucketTables {
    // The mantissa bits of 2^(j/32) for j up to 31; [32] is above every mantissa.
    uint64_t subBounds[kNativePerOctave + 1];
    // For each slot, the native bucket within the octave of its lowest mantissa.
    uint8_t slotSub[1 << kFrameSlotBits];
    // For the zero bucket and then each native one, the classic bucket of
    // the values just above its lower edge; those further up are in that
    // one or the next.
    uint8_t classicOf[1 + kNativeBuckets];
    // kFrameBucketBounds, and above every value for the last bucket.
    double classicBounds[kFrameBuckets + 1];
};
extern FrameBucketTables g_frameBucketTables;

// Builds the tables; before the first FrameBuckets_Find.
void FrameBuckets_Init();

inline FrameBucket FrameBuckets_Find(double seconds)
{
    constexpr int kMantissaBits = 52;
    constexpr uint64_t kMantissaMask = (uint64_t{1} << kMantissaBits) - 1;
    const FrameBucketTables& tables = g_frameBucketTables;
    if (!(seconds > kNativeZeroThreshold))
        return {seconds > tables.classicBounds[0] ? 1 : 0, -1};
    uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof(bits));
    int octave = static_cast<int>(bits >> kMantissaBits) - 1023;
    uint64_t mantissa = bits & kMantissaMask;
    int sub = tables.slotSub[mantissa >> (kMantissaBits - kFrameSlotBits)];
    sub += mantissa > tables.subBounds[sub] ? 1 : 0;
    int native = octave * kNativePerOctave + sub - kNativeFirstIndex;
    if (native >= kNativeBuckets)
        native = kNativeBuckets - 1;
    int classic = tables.classicOf[native + 1];
    if (seconds > tables.classicBounds[classic])
        ++classic;
    return {classic, native};
}

#endif
