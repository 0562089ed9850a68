#include "service/listeners/metrics_page.h"

#include "common/text_builder.h"
#include "service/listeners/metrics_families.h"
#include "telemetry/telemetry.h"

namespace {

const char* TypeName(MetricType type)
{
    switch (type) {
    case MetricType::kCounter: return "counter";
    case MetricType::kGauge: return "gauge";
    case MetricType::kHistogram: return "histogram";
    }
    return "untyped";
}

class TextFormat final : public IMetricsFormat {
public:
    explicit TextFormat(TextBuilder& page) : page_(page) {}

    void Family(const char* name, MetricType type, const char* help) override
    {
        name_ = name;
        page_.Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, TypeName(type));
    }

    void Count(const MetricLabels& labels, uint64_t value) override
    {
        Series(labels);
        page_.Format(" %llu\n", static_cast<unsigned long long>(value));
    }

    void Seconds(double value) override { page_.Format("%s %.3f\n", name_, value); }

    void Histogram(const FrameHistogram& histogram, double ticksPerSecond) override;

private:
    // The series' name and its labels, if any.
    void Series(const MetricLabels& labels)
    {
        page_.Add(name_);
        for (int i = 0; i < labels.count; ++i)
            page_.Format("%c%s=\"%s\"", i == 0 ? '{' : ',', labels.pairs[i].name, labels.pairs[i].value);
        if (labels.count > 0)
            page_.Put('}');
    }

    TextBuilder& page_;
    const char* name_ = "";  // of the family being written
};

void TextFormat::Histogram(const FrameHistogram& histogram, double ticksPerSecond)
{
    unsigned long long cumulative = 0;
    for (int i = 0; i < kFrameBuckets; ++i) {
        cumulative += histogram.counts[i];
        page_.Format("%s_bucket{le=\"%g\"} %llu\n", name_, kFrameBucketBounds[i], cumulative);
    }
    cumulative += histogram.counts[kFrameBuckets];
    page_.Format("%s_bucket{le=\"+Inf\"} %llu\n", name_, cumulative);
    double sum = ticksPerSecond > 0 ? static_cast<double>(histogram.sumTicks) / ticksPerSecond : 0.0;
    page_.Format("%s_sum %.9f\n", name_, sum);
    page_.Format("%s_count %llu\n", name_, cumulative);
}

}  // namespace

size_t Metrics_WritePage(char* out, size_t size)
{
    // Anything that does not fit spoils the whole page rather than cutting
    // a line.
    TextBuilder page(out, size);
    TextFormat format(page);
    Metrics_Describe(format);
    return page.Cut() ? 0 : page.Length();
}
