#include "service/listeners/metrics_proto_page.h"

#include "common/protobuf_writer.h"
#include "service/listeners/metrics_families.h"
#include "telemetry/telemetry.h"

namespace {

// The field numbers of io.prometheus.client's messages.
namespace field {
constexpr int kFamilyName = 1, kFamilyHelp = 2, kFamilyType = 3, kFamilyMetric = 4;
constexpr int kMetricLabel = 1, kMetricGauge = 2, kMetricCounter = 3, kMetricHistogram = 7;
constexpr int kLabelName = 1, kLabelValue = 2;
constexpr int kValue = 1;  // of a Gauge and of a Counter
constexpr int kSampleCount = 1, kSampleSum = 2, kBucket = 3, kSchema = 5, kZeroThreshold = 6,
              kZeroCount = 7, kPositiveSpan = 12, kPositiveDelta = 13;
constexpr int kCumulativeCount = 1, kUpperBound = 2;  // of a Bucket
constexpr int kSpanOffset = 1, kSpanLength = 2;
}  // namespace field

// io.prometheus.client.MetricType.
constexpr uint64_t kCounterType = 0, kGaugeType = 1, kHistogramType = 4;

// Empty native buckets between populated ones that a span bridges, with
// zero counts, rather than opening a new span: a span costs more bytes.
constexpr int kBridged = 2;

// The page at its longest: every classic and native bucket at the longest
// count, the native ones in one span, and room for the rest.
constexpr size_t kLongestVarint = 10, kDoubleField = 9, kFamilyRoom = 320, kRestRoom = 2048;
constexpr size_t kLongestHistogram = kFamilyRoom + 4 * (1 + kLongestVarint) + 2 * kDoubleField +
                                     kFrameBuckets * (3 + kLongestVarint + kDoubleField) +
                                     kNativeBuckets * kLongestVarint;
static_assert(kFrameMeasures * kLongestHistogram + kRestRoom <= kMetricsProtoPageSize,
              "the longest page does not fit");

uint64_t TypeNumber(MetricType type)
{
    switch (type) {
    case MetricType::kCounter: return kCounterType;
    case MetricType::kGauge: return kGaugeType;
    case MetricType::kHistogram: return kHistogramType;
    }
    return kGaugeType;
}

// The run of native buckets at from or after it: populated buckets
// [first, end), with at most kBridged empty ones together inside. False
// when none is left.
bool NextRun(const uint64_t (&native)[kNativeBuckets], int from, int& first, int& end)
{
    while (from < kNativeBuckets && native[from] == 0)
        ++from;
    if (from >= kNativeBuckets)
        return false;
    first = end = from;
    for (int p = from; p < kNativeBuckets && p - end <= kBridged; ++p)
        if (native[p] != 0)
            end = p + 1;
    return true;
}

class ProtoFormat final : public IMetricsFormat {
public:
    explicit ProtoFormat(ProtobufWriter& page) : page_(page) {}

    void Family(const char* name, MetricType type, const char* help) override;
    void Count(const MetricLabels& labels, uint64_t value) override { Sample(labels, static_cast<double>(value)); }
    void Seconds(double value) override { Sample({}, value); }
    void Histogram(const FrameHistogram& histogram, double ticksPerSecond) override;
    // Ends the last family.
    void Finish();

private:
    void Sample(const MetricLabels& labels, double value);
    void Classic(const FrameHistogram& histogram);
    void Native(const FrameHistogram& histogram);

    ProtobufWriter& page_;
    MetricType type_ = MetricType::kGauge;  // of the family being written
    size_t family_ = 0;                     // its mark
    bool open_ = false;                     // one is being written
};

void ProtoFormat::Finish()
{
    if (open_)
        page_.EndDelimited(family_);
    open_ = false;
}

void ProtoFormat::Family(const char* name, MetricType type, const char* help)
{
    Finish();
    family_ = page_.Begin();
    open_ = true;
    type_ = type;
    page_.String(field::kFamilyName, name);
    page_.String(field::kFamilyHelp, help);
    page_.Varint(field::kFamilyType, TypeNumber(type));
}

void ProtoFormat::Sample(const MetricLabels& labels, double value)
{
    size_t metric = page_.Begin();
    for (int i = 0; i < labels.count; ++i) {
        size_t label = page_.Begin();
        page_.String(field::kLabelName, labels.pairs[i].name);
        page_.String(field::kLabelValue, labels.pairs[i].value);
        page_.End(field::kMetricLabel, label);
    }
    size_t sample = page_.Begin();
    page_.Double(field::kValue, value);
    page_.End(type_ == MetricType::kCounter ? field::kMetricCounter : field::kMetricGauge, sample);
    page_.End(field::kFamilyMetric, metric);
}

void ProtoFormat::Histogram(const FrameHistogram& histogram, double ticksPerSecond)
{
    size_t metric = page_.Begin();
    size_t sample = page_.Begin();
    uint64_t count = 0;
    for (uint64_t bucket : histogram.counts)
        count += bucket;
    page_.Varint(field::kSampleCount, count);
    page_.Double(field::kSampleSum,
                 ticksPerSecond > 0 ? static_cast<double>(histogram.sumTicks) / ticksPerSecond : 0.0);
    Classic(histogram);
    Native(histogram);
    page_.End(field::kMetricHistogram, sample);
    page_.End(field::kFamilyMetric, metric);
}

// The buckets with a finite bound, cumulative; the count is the last one's.
void ProtoFormat::Classic(const FrameHistogram& histogram)
{
    uint64_t cumulative = 0;
    for (int i = 0; i < kFrameBuckets; ++i) {
        cumulative += histogram.counts[i];
        size_t bucket = page_.Begin();
        page_.Varint(field::kCumulativeCount, cumulative);
        page_.Double(field::kUpperBound, kFrameBucketBounds[i]);
        page_.End(field::kBucket, bucket);
    }
}

// The zero threshold is written even with nothing recorded, which is how a
// scraper tells a native histogram that has no observations yet. Each span
// is placed by the index of its first bucket, the first one absolutely and
// the others from the end of the one before; each count is written as its
// difference from the bucket before.
void ProtoFormat::Native(const FrameHistogram& histogram)
{
    page_.Sint(field::kSchema, kNativeSchema);
    page_.Double(field::kZeroThreshold, kNativeZeroThreshold);
    page_.Varint(field::kZeroCount, histogram.zeroCount);
    int first = 0, end = 0, before = 0;
    for (int from = 0; NextRun(histogram.native, from, first, end); from = end) {
        size_t span = page_.Begin();
        page_.Sint(field::kSpanOffset, first + kNativeFirstIndex - before);
        page_.Varint(field::kSpanLength, static_cast<uint64_t>(end - first));
        page_.End(field::kPositiveSpan, span);
        before = end + kNativeFirstIndex;
    }
    if (!NextRun(histogram.native, 0, first, end))
        return;
    size_t deltas = page_.Begin();
    uint64_t previous = 0;
    for (int from = 0; NextRun(histogram.native, from, first, end); from = end)
        for (int p = first; p < end; ++p) {
            page_.PackedSint(static_cast<int64_t>(histogram.native[p] - previous));
            previous = histogram.native[p];
        }
    page_.End(field::kPositiveDelta, deltas);
}

}  // namespace

size_t Metrics_WriteProtoPage(char* out, size_t size)
{
    ProtobufWriter page(out, size);
    ProtoFormat format(page);
    Metrics_Describe(format);
    format.Finish();
    return page.Cut() ? 0 : page.Length();
}
