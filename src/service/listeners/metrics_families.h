// The metric families that the metrics pages list, in their order: names,
// help texts, labels, and the values read from the telemetry at the call.
// Each page's format (metrics_page.h, metrics_proto_page.h) is handed the
// same families, so the two pages cannot drift apart.
#ifndef TARN_SERVICE_LISTENERS_METRICS_FAMILIES_H
#define TARN_SERVICE_LISTENERS_METRICS_FAMILIES_H

#include <cstdint>

struct FrameHistogram;

enum class MetricType { kCounter, kGauge, kHistogram };

struct MetricLabel {
    const char* name;
    const char* value;
};

// The labels of one sample.
struct MetricLabels {
    const MetricLabel* pairs = nullptr;
    int count = 0;
};

// A page's format, handed each family and then its samples.
class IMetricsFormat {
public:
    virtual void Family(const char* name, MetricType type, const char* help) = 0;
    // A counter's or a gauge's sample: a whole number, or a time in seconds.
    virtual void Count(const MetricLabels& labels, uint64_t value) = 0;
    virtual void Seconds(double value) = 0;
    // A histogram's only sample, in seconds.
    virtual void Histogram(const FrameHistogram& histogram, double ticksPerSecond) = 0;

protected:
    ~IMetricsFormat() = default;
};

// Hands format every family with its samples.
void Metrics_Describe(IMetricsFormat& format);

#endif
