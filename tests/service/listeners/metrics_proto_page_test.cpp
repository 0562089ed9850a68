// The protobuf page as a scraper decodes it: the text page's families, in
// its order, with the same samples; each histogram's classic buckets and
// count as on the text page, and native spans and deltas that give back
// exactly what the telemetry counted; a page that fits or is not written.
#include "service/listeners/metrics_page.h"
#include "service/listeners/metrics_proto_page.h"
#include "telemetry/cycle_clock.h"
#include "telemetry/telemetry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One field of a message: its number, and its value (a varint or 8 bytes)
// or its bytes (a nested message, a string, a packed field).
struct Field {
    uint64_t value = 0;
    std::string bytes;
};
using Message = std::multimap<int, Field>;  // fields of a number in their order

uint64_t Varint(const std::string& in, size_t& at)
{
    uint64_t value = 0;
    for (int shift = 0; at < in.size(); shift += 7)
        if (value |= static_cast<uint64_t>(in[at] & 0x7f) << shift, !(in[at++] & 0x80))
            break;
    return value;
}

int64_t ZigZag(uint64_t value) { return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1); }
double AsDouble(uint64_t bits) { double d; std::memcpy(&d, &bits, sizeof(d)); return d; }

Message Decode(const std::string& in)
{
    Message message;
    for (size_t at = 0; at < in.size();) {
        uint64_t tag = Varint(in, at);
        Field field;
        size_t length = (tag & 7) == 2 ? Varint(in, at) : (tag & 7) == 1 ? 8 : 0;
        if ((tag & 7) == 2)
            field.bytes = in.substr(at, length);
        else if (length == 8)
            std::memcpy(&field.value, in.data() + at, 8);
        else
            field.value = Varint(in, at);
        at += length;
        message.insert({static_cast<int>(tag >> 3), field});
    }
    return message;
}

Field One(const Message& message, int number)
{
    auto found = message.find(number);
    return found == message.end() ? Field{} : found->second;
}

std::vector<Field> All(const Message& message, int number)
{
    std::vector<Field> fields;
    for (auto [at, end] = message.equal_range(number); at != end; ++at)
        fields.push_back(at->second);
    return fields;
}

// Native counts by bucket index, from the spans and the deltas.
std::map<int64_t, uint64_t> NativeCounts(const Message& histogram)
{
    std::map<int64_t, uint64_t> counts;
    std::string deltas = One(histogram, 13).bytes;
    size_t at = 0;
    int64_t index = 0;
    uint64_t count = 0;
    for (const Field& span : All(histogram, 12)) {
        Message fields = Decode(span.bytes);
        index += ZigZag(One(fields, 1).value);
        for (uint64_t i = 0; i < One(fields, 2).value; ++i)
            counts[index++] = count += static_cast<uint64_t>(ZigZag(Varint(deltas, at)));
    }
    EXPECT_EQ(at, deltas.size()) << "deltas left over";
    return counts;
}

// The text page: its "# HELP" and "# TYPE" lines in order, and each
// sample's value by series.
void ReadText(std::vector<std::string>& described, std::map<std::string, double>& samples)
{
    static char out[kMetricsPageSize];
    std::istringstream lines(std::string(out, Metrics_WritePage(out, sizeof(out))));
    for (std::string line; std::getline(lines, line);)
        if (line[0] == '#')
            described.push_back(line);
        else
            samples[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ') + 1));
}

std::string ProtoPage()
{
    static char out[kMetricsProtoPageSize];
    return std::string(out, Metrics_WriteProtoPage(out, sizeof(out)));
}

// Frames of various lengths, one of them too short for any native bucket.
void RunFrames()
{
    Telemetry_Open();
    Telemetry_EngineStarted(0);
    const double rate = Telemetry_TicksPerSecond(), seconds[] = {0, 1e-3, 1.03e-3, 1.1e-3, 9e-3, 0.05, 2e-6, 1e-3};
    uint64_t now = CycleClock_Read();
    for (double length : seconds) {
        Telemetry_FrameBeginsAt(now);
        Telemetry_FrameEndsAt(now += static_cast<uint64_t>(length * rate));
        now += static_cast<uint64_t>(1e-3 * rate);
    }
}

const char* const kTypes[] = {"counter", "gauge", "", "", "histogram"};
const std::map<std::string, FrameMeasure> kMeasures = {{"tarn_frame_interval_seconds", FrameMeasure::kInterval},
    {"tarn_engine_frame_seconds", FrameMeasure::kEngineFrame}, {"tarn_pacing_lateness_seconds", FrameMeasure::kLateness}};

void ExpectHistogram(const std::string& name, const Message& histogram, std::map<std::string, double>& text)
{
    EXPECT_EQ(One(histogram, 1).value, text[name + "_count"]);
    std::vector<Field> buckets = All(histogram, 3);
    ASSERT_EQ(buckets.size(), static_cast<size_t>(kFrameBuckets));
    for (const Field& bucket : buckets) {
        char series[128];
        std::snprintf(series, sizeof(series), "%s_bucket{le=\"%g\"}", name.c_str(),
                      AsDouble(One(Decode(bucket.bytes), 2).value));
        EXPECT_EQ(One(Decode(bucket.bytes), 1).value, text.at(series)) << series;
    }
    const FrameHistogram& counted = Telemetry_Histogram(kMeasures.at(name));
    EXPECT_EQ(ZigZag(One(histogram, 5).value), kNativeSchema);
    EXPECT_EQ(AsDouble(One(histogram, 6).value), kNativeZeroThreshold);
    EXPECT_EQ(One(histogram, 7).value, counted.zeroCount);
    std::map<int64_t, uint64_t> native = NativeCounts(histogram);
    for (auto [index, count] : native) {
        int p = static_cast<int>(index - kNativeFirstIndex);
        EXPECT_EQ(count, p >= 0 && p < kNativeBuckets ? counted.native[p] : ~0ull) << "index " << index;
    }
    for (int p = 0; p < kNativeBuckets; ++p)
        EXPECT_EQ(native[kNativeFirstIndex + p], counted.native[p]) << "index " << kNativeFirstIndex + p;
}

TEST(MetricsProtoPageTest, HoldsTheTextPagesFamiliesAndSamplesAndTheNativeCountsExactly)
{
    RunFrames();
    std::vector<std::string> described;
    std::map<std::string, double> text;
    ReadText(described, text);
    const std::string page = ProtoPage();
    size_t at = 0, family = 0, samples = 0;
    for (; at < page.size(); ++family) {
        size_t length = Varint(page, at);
        Message message = Decode(page.substr(at, length));
        at += length;
        std::string name = One(message, 1).bytes;
        SCOPED_TRACE(name);
        ASSERT_LT(2 * family + 1, described.size());
        EXPECT_EQ(described[2 * family], "# HELP " + name + " " + One(message, 2).bytes);
        EXPECT_EQ(described[2 * family + 1], "# TYPE " + name + " " + kTypes[One(message, 3).value]);
        for (const Field& field : All(message, 4)) {
            Message metric = Decode(field.bytes);
            std::string series = name;
            for (const Field& label : All(metric, 1))
                series += (series == name ? "{" : ",") + One(Decode(label.bytes), 1).bytes + "=\"" +
                      One(Decode(label.bytes), 2).bytes + "\"";
            series += series == name ? "" : "}";
            ++samples;
            if (metric.count(7))
                ExpectHistogram(name, Decode(One(metric, 7).bytes), text);
            else
                EXPECT_NEAR(AsDouble(One(Decode(One(metric, metric.count(3) ? 3 : 2).bytes), 1).value),
                            text.at(series), 5e-4) << series;
        }
    }
    EXPECT_EQ(at, page.size());
    EXPECT_EQ(2 * family, described.size());
    EXPECT_EQ(samples, described.size() / 2 + 1);  // one sample each, two for the console lines
}

TEST(MetricsProtoPageTest, WritesThePageWhereItFitsAndNothingElsewhere)
{
    const std::string page = ProtoPage();
    ASSERT_GT(page.size(), 0u);
    for (size_t size : {page.size() + 1, page.size(), page.size() - 1, size_t{1}, size_t{0}}) {
        SCOPED_TRACE(size);
        std::string out(page.size() + 16, '@');
        size_t length = Metrics_WriteProtoPage(&out[0], size);
        EXPECT_EQ(length, size >= page.size() ? page.size() : 0);
        EXPECT_EQ(out.substr(0, length), page.substr(0, length));
        EXPECT_EQ(out.substr(size), std::string(out.size() - size, '@'));
    }
}

}  // namespace
