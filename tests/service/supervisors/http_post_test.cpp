// The sidecar client's reading of an answer's status line, and the request
// it writes into its fixed buffer.
#include "service/supervisors/http_post.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(HttpPostTest, ReadsAStatusCodeOnlyFromAWholeStatusLine)
{
    // withheld: bytes at the end of reply that have not arrived.
    struct Row { std::string reply; size_t withheld; int code; };
    const Row rows[] = {
        {"", 0, kHttpNotYet},
        {"HTTP/1.1 200 OK", 0, kHttpNotYet},
        {"HTTP/1.1 200 OK\r", 0, kHttpNotYet},
        {"HTTP/1.1 200 OK\r\n", 1, kHttpNotYet},
        {"HTTP/1.1 200 OK\r\n", 0, 200},
        {"HTTP/1.1 200\r\n", 0, 200},
        {"HTTP/1.0 204\n", 0, 204},
        {"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n", 0, 503},
        {"HTTP/1.1 200 OK\r\nHTTP/1.1 500 Oops\r\n", 0, 200},
        {"HTTP/1.1 2000 OK\r\n", 0, 0},
        {"HTTP/1.1 200OK\r\n", 0, 0},
        {"HTTP/1.1 20 OK\r\n", 0, 0},
        {"HTTP/1.1 20\r\n", 0, 0},
        {"HTTP/1.1  200 OK\r\n", 0, 0},
        {"HTTP/1.x 200 OK\r\n", 0, 0},
        {"HTTP/2 200 OK\r\n", 0, 0},
        {"http/1.1 200 OK\r\n", 0, 0},
        {"\r\n", 0, 0},
        {"tarn\nHTTP/1.1 200 OK\r\n", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply + " less " + std::to_string(row.withheld) + " bytes");
        // The withheld bytes lie in the buffer beyond the length given, as
        // stale bytes would in the client's.
        std::vector<char> buffer(row.reply.begin(), row.reply.end());
        EXPECT_EQ(Http_StatusCode(buffer.data(), static_cast<int>(row.reply.size() - row.withheld)), row.code);
    }
}

TEST(HttpPostTest, WritesTheRequestWhenItFitsItsBufferAndRefusesWhenNot)
{
    char out[kHttpRequestSize];
    int shortest = Http_FormatJsonPost(out, 30100, "/");
    ASSERT_GT(shortest, 0);
    EXPECT_EQ(std::string(out, shortest).rfind("POST / HTTP/1.1\r\nHost: 127.0.0.1:30100\r\n", 0), 0u);
    EXPECT_EQ(std::string(out, shortest).substr(shortest - 6), "\r\n\r\n{}");
    // A path that takes the request to the last byte before the NUL fits;
    // one more character does not.
    std::string path = "/" + std::string(kHttpRequestSize - 1 - shortest, 'p');
    EXPECT_EQ(Http_FormatJsonPost(out, 30100, path.c_str()), kHttpRequestSize - 1);
    EXPECT_EQ(std::strlen(out), static_cast<size_t>(kHttpRequestSize - 1));
    path += 'p';
    EXPECT_EQ(Http_FormatJsonPost(out, 30100, path.c_str()), -1);
}

}  // namespace
