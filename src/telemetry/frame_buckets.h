// The buckets of a frame histogram that a duration falls in, classic and
// native (telemetry.h), found in constant time: the native index from the
// bits of the double and two small tables, the classic one from the native
// one and a single comparison. No search, no logarithm.
#ifndef TARN_TELEMETRY_FRAME_BUCKETS_H
#define TARN_TELEMETRY_FRAME_BUCKETS_H

struct FrameBucket {
    int classic;  // 0 .. kFrameBuckets, the last without bound
    int native;   // 0 .. kNativeBuckets - 1, or -1 for the zero bucket
};

// Builds the tables; before the first FrameBuckets_Find.
void FrameBuckets_Init();
FrameBucket FrameBuckets_Find(double seconds);

#endif
