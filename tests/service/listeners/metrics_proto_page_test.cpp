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

// A field's value (a varint or 8 bytes) or its bytes (a nested message, a
// string, a packed field).
struct Field { uint64_t value = 0; std::string bytes; };
using Message = std::map<int, std::vector<Field>>;  // by field number, in order

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
        Field field;  // the tag's last 3 bits: 0 a varint, 1 8 bytes, 2 a length and bytes
        size_t length = (tag & 7) == 2 ? Varint(in, at) : (tag & 7) == 1 ? 8 : 0;
        field.bytes = in.substr(at, length);
        at += length;
        field.value = (tag & 7) == 0 ? Varint(in, at) : 0;
        std::memcpy(&field.value, field.bytes.data(), (tag & 7) == 1 ? 8 : 0);
        message[static_cast<int>(tag >> 3)].push_back(field);
    }
    return message;
}

Field One(Message& message, int number) { return message[number].empty() ? Field{} : message[number][0]; }

// The populated native buckets' counts by index, from the spans and the
// deltas.
std::map<int64_t, uint64_t> NativeCounts(Message& histogram)
{
    std::map<int64_t, uint64_t> counts;
    std::string deltas = One(histogram, 13).bytes;
    size_t at = 0;
    int64_t index = 0, count = 0;
    for (const Field& field : histogram[12]) {
        Message span = Decode(field.bytes);
        index += ZigZag(One(span, 1).value);
        for (uint64_t i = 0; i < One(span, 2).value; ++i, ++index)
            if ((count += ZigZag(Varint(deltas, at))) != 0)
                counts[index] = static_cast<uint64_t>(count);
    }
    EXPECT_EQ(at, deltas.size()) << "deltas beyond the spans";
    return counts;
}

std::string ProtoPage()
{
    static char out[kMetricsProtoPageSize];
    return {out, Metrics_WriteProtoPage(out, sizeof(out))};
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

void ExpectHistogram(const std::string& name, Message histogram, std::map<std::string, double>& text)
{
    EXPECT_EQ(One(histogram, 1).value, text[name + "_count"]);
    ASSERT_EQ(histogram[3].size(), static_cast<size_t>(kFrameBuckets));
    for (const Field& field : histogram[3]) {
        Message bucket = Decode(field.bytes);
        char series[128];
        std::snprintf(series, sizeof(series), "%s_bucket{le=\"%g\"}", name.c_str(), AsDouble(One(bucket, 2).value));
        EXPECT_EQ(One(bucket, 1).value, text.at(series)) << series;
    }
    const FrameHistogram& counted = Telemetry_Histogram(kMeasures.at(name));
    EXPECT_EQ(ZigZag(One(histogram, 5).value), kNativeSchema);
    EXPECT_EQ(AsDouble(One(histogram, 6).value), kNativeZeroThreshold);
    EXPECT_EQ(One(histogram, 7).value, counted.zeroCount);
    std::map<int64_t, uint64_t> expected;
    for (int p = 0; p < kNativeBuckets; ++p)
        if (counted.native[p] > 0)
            expected[kNativeFirstIndex + p] = counted.native[p];
    EXPECT_EQ(NativeCounts(histogram), expected);
}

TEST(MetricsProtoPageTest, HoldsTheTextPagesFamiliesAndSamplesAndTheNativeCountsExactly)
{
    RunFrames();
    static char out[kMetricsPageSize];
    std::istringstream lines(std::string(out, Metrics_WritePage(out, sizeof(out))));
    std::vector<std::string> described;  // the "# HELP" and "# TYPE" lines
    std::map<std::string, double> text;  // the samples by series
    for (std::string line; std::getline(lines, line);)
        if (line[0] == '#')
            described.push_back(line);
        else
            text[line.substr(0, line.rfind(' '))] = std::stod(line.substr(line.rfind(' ') + 1));
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
        for (const Field& field : message[4]) {
            Message metric = Decode(field.bytes);
            std::string series = name;
            for (const Field& pair : metric[1]) {
                Message label = Decode(pair.bytes);
                series += (series == name ? "{" : ",") + One(label, 1).bytes + "=\"" + One(label, 2).bytes + "\"";
            }
            series += series == name ? "" : "}";
            ++samples;
            Message value = Decode(One(metric, metric[3].empty() ? 2 : 3).bytes);
            if (metric[7].empty())
                EXPECT_NEAR(AsDouble(One(value, 1).value), text.at(series), 5e-4) << series;
            else
                ExpectHistogram(name, Decode(One(metric, 7).bytes), text);
        }
    }
    EXPECT_EQ(2 * family, described.size());
    EXPECT_EQ(samples, family + 1);  // one sample each, two for the console lines
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
