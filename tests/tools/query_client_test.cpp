// tarn-query against the reference server run by the real launcher, and
// against a port where nobody answers.
#include "server_run.h"
#include "udp_probe.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <sys/wait.h>

namespace {

struct ToolResult {
    int status = -1;
    std::string out;
};

// serve, when given, answers as the server while the tool waits.
ToolResult RunQuery(const std::string& arguments, const std::function<void()>& serve = {},
                    const std::string& tool = TARN_QUERY_PATH)
{
    ToolResult result;
    FILE* pipe = popen(("'" + tool + "' " + arguments + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    if (serve)
        serve();
    char buffer[256];
    for (size_t length; (length = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        result.out.append(buffer, length);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class QueryClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.WaitForOutput("Listening on ")) << server.Output();
        address = "127.0.0.1:" + std::to_string(ListeningPort(server.Output()));
    }

    ServerDir dir{TARN_REFERENCE_ENGINE, TARN_REFERENCE_FILESYSTEM};
    RunningServer server{dir, {"-port", "0"}};
    std::string address;
};

TEST_F(QueryClientTest, PingsPrintRoundTripTimesAndASummary)
{
    ToolResult result = RunQuery("-c 3 -w 10000 " + address);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out.rfind("PING " + address + "\n", 0), 0u) << result.out;
    for (const char* sequence : {"seq=1 time=", "seq=2 time=", "seq=3 time="})
        EXPECT_TRUE(Contains(result.out, "reply from " + address + ": " + sequence)) << result.out;
    EXPECT_TRUE(Contains(result.out, "--- " + address + ": 3 sent, 3 received, 0 lost\n"));
    EXPECT_TRUE(Contains(result.out, "round trip min/avg/max = ")) << result.out;

    server.Type("status\n");
    EXPECT_TRUE(server.WaitForOutput("queries   3 served\n")) << server.Output();
}

TEST_F(QueryClientTest, InfoPrintsTheServersLines)
{
    ToolResult result = RunQuery("-info -w 10000 " + address);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out.rfind("engine=tarn-reference\naddress=" + address + "\n", 0), 0u)
        << result.out;
}

TEST(QueryClientAloneTest, APortThatNeverAnswersCountsAsLostAndEndsWithOne)
{
    UdpProbe silent;
    std::string address = "127.0.0.1:" + std::to_string(silent.Port());
    ToolResult result = RunQuery("-c 2 -w 200 " + address);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_TRUE(Contains(result.out, "no reply: seq=1, timed out after 200 ms\n")) << result.out;
    EXPECT_TRUE(Contains(result.out, "--- " + address + ": 2 sent, 0 received, 2 lost\n"));
    EXPECT_FALSE(Contains(result.out, "round trip")) << result.out;
    // Both pings arrived, each with a token of its own.
    std::string first = silent.Receive(), second = silent.Receive();
    ASSERT_EQ(first.size(), 10u);
    ASSERT_EQ(second.size(), 10u);
    EXPECT_EQ(first.substr(0, 6), QueryDatagram(kQueryPing, ""));
    EXPECT_EQ(second.substr(0, 6), QueryDatagram(kQueryPing, ""));
    EXPECT_NE(first.substr(6), second.substr(6));
}

// A hostile server's escape sequences never reach the terminal as such.
TEST(QueryClientAloneTest, InfoBytesOutsideThePrintableRangeAreShownEscaped)
{
    for (std::pair<std::string, std::string> row : std::vector<std::pair<std::string, std::string>>{
             {"\x1b]0;owned\x07\x1b[2Jtitle\n", "\\x1b]0;owned\\x07\\x1b[2Jtitle\n"},
             {std::string("a\0\r\x7f\x80\xff\\x1b\n", 11), "a\\x00\\x0d\\x7f\\x80\\xff\\\\x1b\n"}}) {
        UdpProbe server;
        ToolResult result = RunQuery("-info -w 10000 127.0.0.1:" + std::to_string(server.Port()), [&] {
            int client = 0;
            std::string token = server.Receive(10000, &client).substr(6, 4);
            server.SendTo(client, QueryDatagram(kQueryInfo | kQueryReply, token) + row.first);
        });
        EXPECT_EQ(result.out, row.second) << result.status;
    }
}

// Numbers whole and in range, and a switch of the tool's own with its value.
TEST(ToolArgumentsTest, UnusableOnesPrintTheUsageAndEndWithTwo)
{
    const std::string query = TARN_QUERY_PATH, run = TARN_RUN_PATH;
    setenv("TARN_LAUNCHER", "/bin/true", 1);  // for tarn-run, should it start one
    struct Row { std::string tool; const char* arguments; };
    for (const Row& row : {Row{query, "-c 0"}, Row{query, "-c x"}, Row{query, "-w"}, Row{query, "-bogus"},
                           Row{query, "a b"}, Row{query, "host:"}, Row{query, "-c 1 -w 100 127.0.0.1:99999"},
                           Row{query, "-c 1 -w 100 127.0.0.1:0"}, Row{query, "-c 1 -w 100 127.0.0.1:+30100"},
                           Row{run, "-w 4294967297"}, Row{run, "-w 5abc"}, Row{run, "-w"}, Row{run, "-w 0"},
                           Row{run, "-w 86401"}, Row{run, "-d"}, Row{run, "-w 5 -d"}, Row{run, "-l 5"},
                           Row{run, "-l 0/60"}, Row{run, "-l 101/60"}, Row{run, "-l 5/"}, Row{run, "-l 5/60s"},
                           Row{run, "-l"}}) {
        ToolResult result = RunQuery(row.arguments, {}, row.tool);
        EXPECT_EQ(result.status, 2) << row.arguments << "\n" << result.out;
        EXPECT_TRUE(Contains(result.out, "usage: tarn-")) << row.arguments << "\n" << result.out;
    }
}

}  // namespace
