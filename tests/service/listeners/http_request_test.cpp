// The metrics endpoint's judgement of a request head: when it is complete,
// and which status it earns, up to the size limit and one byte past it; and
// which format of the page its Accept fields ask for.
#include "service/listeners/http_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A GET of the page whose head, padded by one header field, is length bytes.
std::string HeadOf(size_t length)
{
    const std::string start = "GET /metrics HTTP/1.1\r\nX-Tarn: ", end = "\r\n\r\n";
    return start + std::string(length - start.size() - end.size(), 'a') + end;
}

// Judged from a buffer of exactly the bytes sent, so that a read past them
// shows under the sanitizer.
HttpJudgement Judge(const std::string& sent)
{
    std::vector<char> bytes(sent.begin(), sent.end());
    return Http_Judge(bytes.data(), bytes.size());
}

TEST(HttpRequestTest, JudgesEachHeadOnceItsEmptyLineArrives)
{
    struct Row { std::string sent; int status; bool bodyWanted; };
    const Row rows[] = {
        {"", 0, true},
        {"GET /metrics HTTP/1.1\r\n", 0, true},
        {"GET /metrics HTTP/1.1\r\nHost: tarn\r\n\r", 0, true},
        {"GET /metrics HTTP/1.1\r\n\r\n", 200, true},
        {"GET /metrics HTTP/1.0\n\n", 200, true},
        {"HEAD /metrics HTTP/1.1\r\nHost: tarn\r\n\r\n", 200, false},
        {"GET /metrics?name[]=tarn HTTP/1.1\r\n\r\n", 200, true},
        {"GET /metrics HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n", 200, true},
        {"GET /metricsx HTTP/1.1\r\n\r\n", 404, true},
        {"GET /metric HTTP/1.1\r\n\r\n", 404, true},
        {"HEAD / HTTP/1.1\r\n\r\n", 404, false},
        {"POST /metrics HTTP/1.1\r\n\r\n", 405, true},
        {"get /metrics HTTP/1.1\r\n\r\n", 405, true},
        {"GET /metrics HTTP/2.0\r\n\r\n", 400, true},
        {"GET /metrics HTTP/1.1 \r\n\r\n", 400, true},
        {"GET  /metrics HTTP/1.1\r\n\r\n", 400, true},
        {"GET /metrics\r\n\r\n", 400, true},
        {"\r\n\r\n", 400, true},
        {"\n\n", 400, true},
        {HeadOf(kHttpMaxHead), 200, true},
        {HeadOf(kHttpMaxHead + 1), 431, true},
        {HeadOf(kHttpMaxHead + 1).substr(0, kHttpMaxHead - 1), 0, true},
        {std::string(kHttpMaxHead - 1, 'a'), 0, true},
        {std::string(kHttpMaxHead, 'a'), 431, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sent.substr(0, 40) + "... (" + std::to_string(row.sent.size()) + " bytes)");
        HttpJudgement judgement = Judge(row.sent);
        EXPECT_EQ(judgement.status, row.status);
        EXPECT_EQ(judgement.bodyWanted, row.bodyWanted);
    }
}

TEST(HttpRequestTest, AHeadArrivingByteByByteIsIncompleteUntilItsLastByte)
{
    const std::string head = "HEAD /metrics HTTP/1.1\r\nHost: tarn\r\n\r\n";
    for (size_t length = 0; length < head.size(); ++length)
        EXPECT_EQ(Judge(head.substr(0, length)).status, 0) << length << " bytes";
    EXPECT_EQ(Judge(head).status, 200);
}

// Each row a head's header fields. What Prometheus 2.42 sends when it
// reads native histograms, and when it does not.
TEST(HttpRequestTest, AsksForTheProtobufPageOnlyThroughAnAcceptFieldThatListsIt)
{
    const std::string native = "application/vnd.google.protobuf;proto=io.prometheus.client.MetricFamily;"
        "encoding=delimited,application/openmetrics-text;version=1.0.0;q=0.8,application/openmetrics-text;"
        "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1";
    const std::string protobuf = "application/vnd.google.protobuf; proto=io.prometheus.client.MetricFamily; "
                                 "encoding=delimited";
    struct Row { std::string fields; bool protobufWanted; };
    const Row rows[] = {
        {"Accept: " + native + "\r\n", true},
        {"Accept: " + native.substr(native.find(',') + 1) + "\r\n", false},
        {"", false},
        {"Host: tarn\r\nACCEPT:APPLICATION/vnd.Google.Protobuf ;\tEncoding = delimited ; PROTO=\"io.prometheus."
         "client.MetricFamily\"\r\n", true},
        {"accept: text/plain;q=0.5, " + protobuf + ";q=0.2\r\n", true},
        {"Accept: text/plain\r\nAccept: " + protobuf + "\n", true},
        {"Accept: " + protobuf + ";q=0\r\n", false},
        {"Accept: " + protobuf + "; q=0.000\r\n", false},
        {"Accept: " + protobuf + ";q=0.001\r\n", true},
        {"Accept: application/vnd.google.protobuf;proto=io.prometheus.client.MetricFamily\r\n", false},
        {"Accept: application/vnd.google.protobuf;encoding=delimited;proto=io.prometheus.client.Metric\r\n", false},
        {"Accept: application/vnd.google.protobuf;proto=io.prometheus.client.MetricFamily;encoding=text\r\n", false},
        {"Accept: text/plain;proto=io.prometheus.client.MetricFamily;encoding=delimited\r\n", false},
        {"X-Accept: " + protobuf + "\r\n", false},
        {"User-Agent: " + protobuf + "\r\n", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fields);
        HttpJudgement judgement = Judge("GET /metrics HTTP/1.1\r\n" + row.fields + "\r\n");
        EXPECT_EQ(judgement.status, 200);
        EXPECT_EQ(judgement.protobufWanted, row.protobufWanted);
    }
}

}  // namespace
