// The constant-time bucket lookup against the definitions it replaces: a
// classic bucket is the first whose bound is not below the value, a native
// one the smallest index i with value <= 2^(i/32). Values on a bound, a hair
// either side of it, and a million spread over every octave.
#include "telemetry/frame_buckets.h"
#include "telemetry/telemetry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

int ClassicByScan(double seconds)
{
    int bucket = 0;
    while (bucket < kFrameBuckets && seconds > kFrameBucketBounds[bucket])
        ++bucket;
    return bucket;
}

double NativeBound(int position)
{
    return std::exp2(static_cast<double>(kNativeFirstIndex + position) / kNativePerOctave);
}

// The native position by logarithm, clamped as the histogram clamps.
int NativeByLog(double seconds)
{
    if (seconds <= kNativeZeroThreshold)
        return -1;
    int index = static_cast<int>(std::ceil(std::log2(seconds) * kNativePerOctave));
    int position = index - kNativeFirstIndex;
    return position < kNativeBuckets ? position : kNativeBuckets - 1;
}

void ExpectFound(double seconds)
{
    SCOPED_TRACE(testing::Message() << "seconds " << seconds);
    FrameBucket found = FrameBuckets_Find(seconds);
    EXPECT_EQ(found.classic, ClassicByScan(seconds));
    int expected = NativeByLog(seconds);
    // On a native bound, the logarithm's rounding may fall either side.
    auto near = [&](int position) { return std::fabs(seconds / NativeBound(position) - 1) < 1e-12; };
    bool onBound = found.native >= 0 && (near(found.native) || near(found.native - 1));
    if (!onBound) {
        EXPECT_EQ(found.native, expected);
    }
}

std::vector<double> AroundBounds()
{
    std::vector<double> values = {0, -1, kNativeZeroThreshold, 1e-12, 3600, 1e9};
    auto around = [&](double bound) {
        values.push_back(bound);
        values.push_back(std::nextafter(bound, 0.0));
        values.push_back(std::nextafter(bound, 1e300));
    };
    for (double bound : kFrameBucketBounds)
        around(bound);
    for (int position = -1; position < kNativeBuckets; ++position)
        around(NativeBound(position));
    return values;
}

TEST(FrameBucketsTest, FindsTheBucketsOfTheirDefinitions)
{
    FrameBuckets_Init();
    for (double seconds : AroundBounds())
        ExpectFound(seconds);
    std::mt19937_64 random(30100);
    std::uniform_real_distribution<double> octaves(kNativeLowestOctave - 1, kNativeHighestOctave + 1);
    for (int i = 0; i < 1000000 && !HasFailure(); ++i)
        ExpectFound(std::exp2(octaves(random)));
}

}  // namespace
