// The reference engine and file-system modules run by the real launcher in
// a temporary server directory: starting, the query protocol on loopback,
// server.cfg, the console commands, restarts and clean stops.
#include "server_run.h"
#include "udp_probe.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

// A server directory with the reference modules of this build.
class ReferenceServerTest : public ::testing::Test {
protected:
    ServerDir dir{TARN_REFERENCE_ENGINE, TARN_REFERENCE_FILESYSTEM};

    // Starts the launcher and waits until the engine listens; returns the port.
    int StartAndWait(RunningServer& server, int count = 1)
    {
        EXPECT_TRUE(server.WaitForOutput("Listening on ", count)) << server.Output();
        return ListeningPort(server.Output());
    }
};

RunOptions Typed(const std::string& input)
{
    RunOptions options;
    options.input = input;
    return options;
}

// --- start and the query protocol ---------------------------------------------

TEST_F(ReferenceServerTest, StartsAnswersAPingOnLoopbackAndQuitsWithStatusZero)
{
    RunningServer server(dir, {"-port", "0"});
    int port = StartAndWait(server);
    ASSERT_GT(port, 0);
    EXPECT_TRUE(Contains(server.Output(), "Listening on 127.0.0.1:"));

    UdpProbe probe;
    probe.SendTo(port, QueryDatagram(kQueryPing, "tok1"));
    EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, "tok1"));

    server.Type("quit\n");
    RunResult result = server.Finish();
    ExpectCleanEnd(result);
    EXPECT_TRUE(Contains(result.out, "Quitting.\nServer stopped.\n")) << result.out;
}

TEST_F(ReferenceServerTest, AnswersPingsFromTheNetworkWaitWithPingboostThree)
{
    RunningServer server(dir, {"-pingboost", "3", "-port", "0"});
    int port = StartAndWait(server);
    UdpProbe probe;
    for (const char* token : {"aaaa", "bbbb", "cccc"}) {
        probe.SendTo(port, QueryDatagram(kQueryPing, token));
        EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, token));
    }
    server.Type("quit\n");
    ExpectCleanEnd(server.Finish());
}

TEST_F(ReferenceServerTest, InfoRepliesCarryTheAddressAndTheCountsOnceTheChallengeIsEchoed)
{
    RunningServer server(dir, {"-port", "0"});
    int port = StartAndWait(server);
    UdpProbe probe;
    probe.SendTo(port, QueryDatagram(kQueryPing, "ping"));
    probe.Receive();
    probe.SendTo(port, InfoDatagram("frst"));
    std::string challenge = probe.Receive();
    ASSERT_EQ(challenge.size(), 18u);
    ASSERT_EQ(challenge.substr(0, 10), QueryDatagram(kQueryChallengeReply, "frst"));
    probe.SendTo(port, InfoDatagram("info", challenge.substr(10)));
    std::string reply = probe.Receive();
    std::string header = QueryDatagram(kQueryInfo | kQueryReply, "info");
    ASSERT_EQ(reply.substr(0, header.size()), header);
    std::string text = reply.substr(header.size());
    EXPECT_EQ(text.rfind("engine=tarn-reference\n", 0), 0u) << text;
    EXPECT_TRUE(Contains(text, "\naddress=127.0.0.1:" + std::to_string(port) + "\n")) << text;
    EXPECT_TRUE(Contains(text, "\nqueries=1\n")) << text;
    EXPECT_TRUE(Contains(text, "\nframes=")) << text;
}

// What a spoofed source could draw from the server: requests that echo no
// challenge given to their own address and port. A ping after each one
// fences off its replies, since the server answers in order.
TEST_F(ReferenceServerTest, AnAddressThatEchoedNoChallengeGetsNoMoreBytesThanItSent)
{
    RunningServer server(dir, {"-port", "0"});
    int port = StartAndWait(server);
    UdpProbe probe, other;
    other.SendTo(port, InfoDatagram("othr"));
    std::string othersChallenge = other.Receive().substr(10);
    const std::pair<std::string, bool> requests[] = {  // request, answered with a challenge
        {QueryDatagram(kQueryInfo, "bare"), false},    // too short for a challenge
        {InfoDatagram("zero"), true},
        {InfoDatagram("made", "12345678"), true},
        {InfoDatagram("othr", othersChallenge), true},
        {InfoDatagram("long") + std::string(300, 'x'), true},
    };
    for (const auto& [request, challenged] : requests) {
        probe.SendTo(port, request);
        probe.SendTo(port, QueryDatagram(kQueryPing, "fnce"));
        std::string reply = probe.Receive();
        if (challenged) {
            EXPECT_LE(reply.size(), request.size()) << request;
            EXPECT_EQ(reply.substr(0, 10), QueryDatagram(kQueryChallengeReply, request.substr(6, 4)));
            reply = probe.Receive();
        }
        EXPECT_EQ(reply, QueryDatagram(kQueryPing | kQueryReply, "fnce")) << request;  // and nothing else
    }
}

TEST_F(ReferenceServerTest, DatagramsThatAreNotRequestsGetNoAnswerAndAreNotCounted)
{
    RunningServer server(dir, {"-port", "0"});
    int port = StartAndWait(server);
    UdpProbe probe;
    probe.SendTo(port, "hello");
    probe.SendTo(port, "TARN\x01\x01tok");                                // one byte short
    probe.SendTo(port, std::string("TARN\x02\x01") + "tokn");             // another version
    probe.SendTo(port, QueryDatagram(kQueryPing | kQueryReply, "rply"));  // a reply
    probe.SendTo(port, QueryDatagram(0x05, "type"));                      // no such type
    probe.SendTo(port, QueryDatagram(kQueryPing, "last") + "padding is ignored");
    EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, "last"));

    server.Type("status\n");
    EXPECT_TRUE(server.WaitForOutput("queries   1 served\n")) << server.Output();
}

TEST_F(ReferenceServerTest, ATakenPortFailsTheStartWithAMessage)
{
    UdpProbe taken;
    std::string port = std::to_string(taken.Port());
    RunResult result = dir.Run({"-port", port});
    ExpectFailedStart(result);
    EXPECT_TRUE(Contains(result.out, "UDP port 127.0.0.1:" + port +
                                         " is already in use; choose another with -port.\n"))
        << result.out;
    EXPECT_FALSE(Contains(result.out, "Listening on")) << result.out;
    EXPECT_FALSE(Contains(result.out, "address   ")) << result.out;
}

TEST_F(ReferenceServerTest, UnusableSwitchValuesFailTheStartWithAMessage)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-port", "70000"}, "-port needs a number from 0 to 65535, not \"70000\".\n"},
        {{"-port", "12x"}, "-port needs a number from 0 to 65535, not \"12x\".\n"},
        {{"-port"}, "-port needs a number from 0 to 65535.\n"},
        {{"-ip", "300.1.1.1", "-port", "0"},
         "-ip needs an IPv4 address such as 127.0.0.1, not \"300.1.1.1\".\n"},
    };
    for (const auto& [arguments, message] : cases) {
        RunResult result = dir.Run(arguments);
        ExpectFailedStart(result);
        EXPECT_TRUE(Contains(result.out, message)) << result.out;
        EXPECT_FALSE(Contains(result.out, "Listening on")) << result.out;
    }
}

TEST_F(ReferenceServerTest, OtherSwitchesAreIgnoredAndIpChoosesTheAddress)
{
    RunningServer server(dir, {"-world", "x", "-portal", "1", "+banner", "y", "-ip", "127.0.0.2",
                               "-port", "0", "-slots", "8"});
    int port = StartAndWait(server);
    EXPECT_NE(port, 1);
    EXPECT_TRUE(Contains(server.Output(), "Listening on 127.0.0.2:")) << server.Output();
    UdpProbe probe;
    probe.SendTo(port, QueryDatagram(kQueryPing, "ip-2"), "127.0.0.2");
    EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, "ip-2"));
}

// --- server.cfg and exec --------------------------------------------------------

TEST_F(ReferenceServerTest, ServerCfgRunsAtEveryStart)
{
    dir.Write("server.cfg", "// a comment\n\n  echo configured  \r\necho " + std::string(300, 'x') +
                                "\necho after the long line");
    RunResult result = dir.Run({"-port", "0"}, Typed("restart\nquit\n"));
    ExpectCleanEnd(result);
    EXPECT_EQ(Count(result.out, "Running server.cfg\n"), 2u) << result.out;
    EXPECT_EQ(Count(result.out, "\nconfigured\n"), 2u) << result.out;
    EXPECT_EQ(Count(result.out, "server.cfg line 4 is longer than 255 characters; skipped.\n"), 2u)
        << result.out;
    EXPECT_EQ(Count(result.out, "\nafter the long line\n"), 2u) << result.out;
    EXPECT_FALSE(Contains(result.out, "xxxxx")) << result.out;
}

TEST_F(ReferenceServerTest, AServerCfgThatQuitsStopsTheServerAtItsFirstFrame)
{
    dir.Write("server.cfg", "echo one\nquit\necho never\n");
    RunResult result = dir.Run({"-port", "0"});
    ExpectCleanEnd(result);
    EXPECT_TRUE(Contains(result.out, "one\nQuitting.\nServer stopped.\n")) << result.out;
    EXPECT_FALSE(Contains(result.out, "never")) << result.out;
}

TEST_F(ReferenceServerTest, ExecRunsFilesInsideTheServerDirectoryOnly)
{
    dir.Write("inside.cfg", "echo inside ran\n");
    std::string name = dir.Path().substr(dir.Path().rfind('/') + 1);
    std::string input = "exec " + dir.File("inside.cfg") + "\n" +     // absolute
                        "exec ../" + name + "/inside.cfg\n" +         // out and back in
                        "exec sub/../inside.cfg\n" +                  // ".." anywhere
                        "exec missing.cfg\n" +
                        "exec inside.cfg\n" +
                        "quit\n";
    RunResult result = dir.Run({"-port", "0"}, Typed(input));
    ExpectCleanEnd(result);
    EXPECT_TRUE(Contains(result.out, "Cannot run " + dir.File("inside.cfg") +
                                         ": path leaves the server directory.\n"))
        << result.out;
    EXPECT_TRUE(Contains(result.out, "Cannot run ../" + name +
                                         "/inside.cfg: path leaves the server directory.\n"))
        << result.out;
    EXPECT_TRUE(Contains(result.out, "Cannot run sub/../inside.cfg: path leaves the server directory.\n"));
    EXPECT_TRUE(Contains(result.out, "Cannot run missing.cfg: no such file.\n"));
    EXPECT_EQ(Count(result.out, "inside ran\n"), 1u) << result.out;
}

TEST_F(ReferenceServerTest, AConfigThatRunsItselfStopsAtTheNestingLimit)
{
    dir.Write("loop.cfg", "echo round\nexec loop.cfg\n");
    RunResult result = dir.Run({"-port", "0"}, Typed("exec loop.cfg\nquit\n"));
    ExpectCleanEnd(result);
    EXPECT_EQ(Count(result.out, "round\n"), 8u) << result.out;
    EXPECT_TRUE(Contains(result.out, "Cannot run loop.cfg: config files nest more than 8 deep.\n"));
}

// --- console commands -----------------------------------------------------------

TEST_F(ReferenceServerTest, HelpEchoAndUnknownCommandsAnswerTheOperator)
{
    RunResult result = dir.Run({"-port", "0"}, Typed("help\necho  two  spaces \nfly away\nquit\n"));
    ExpectCleanEnd(result);
    for (const char* command : {"help", "status", "echo", "exec", "restart", "quit"})
        EXPECT_TRUE(Contains(result.out, std::string("\n  ") + command + " ")) << command;
    EXPECT_TRUE(Contains(result.out, "\ntwo  spaces\n")) << result.out;
    EXPECT_TRUE(Contains(result.out, "Unknown command \"fly\"; type \"help\" for the list.\n"));
}

TEST_F(ReferenceServerTest, StatusReportsUptimeFramesRateIntervalsQueriesAndAddress)
{
    RunningServer server(dir, {"-port", "0"});
    int port = StartAndWait(server);
    UdpProbe probe;
    for (const char* token : {"one.", "two."}) {
        probe.SendTo(port, QueryDatagram(kQueryPing, token));
        probe.Receive();
    }
    server.Type("status\n");
    ASSERT_TRUE(server.WaitForOutput("queries   2 served\n")) << server.Output();
    std::string out = server.Output();
    EXPECT_TRUE(Contains(out, "address   127.0.0.1:" + std::to_string(port) + " (UDP)\n")) << out;
    EXPECT_TRUE(Contains(out, "\nuptime    0:")) << out;
    EXPECT_TRUE(Contains(out, "\nframes    ")) << out;
    EXPECT_TRUE(Contains(out, " frames/s over the last second\n")) << out;
    EXPECT_TRUE(Contains(out, "\ninterval  p50 ")) << out;
    EXPECT_TRUE(Contains(out, " ms, p90 ")) << out;
    EXPECT_TRUE(Contains(out, " ms, p99 ")) << out;
    EXPECT_TRUE(Contains(out, " ms, max ")) << out;
}

TEST_F(ReferenceServerTest, RestartStartsTheServerAgainAndItAnswersAgain)
{
    RunningServer server(dir, {"-port", "0"});
    StartAndWait(server);
    server.Type("restart\n");
    int port = StartAndWait(server, 2);
    EXPECT_TRUE(Contains(server.Output(), "Restarting the server.\nServer stopped.\n"));
    EXPECT_EQ(Count(server.Output(), "Tarn reference engine"), 2u);

    UdpProbe probe;
    probe.SendTo(port, QueryDatagram(kQueryPing, "agan"));
    EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, "agan"));
    server.Type("quit\n");
    ExpectCleanEnd(server.Finish());
}

// --- stop signals ---------------------------------------------------------------

class StopSignalTest : public ReferenceServerTest, public ::testing::WithParamInterface<int> {};

// The engine stops as "quit" does, then hands the signal on, so that the
// launcher ends by it and a supervisor sees a stop.
TEST_P(StopSignalTest, EndsTheServerTheWayQuitDoes)
{
    RunningServer server(dir, {"-port", "0"});
    StartAndWait(server);
    server.Signal(GetParam());
    RunResult result = server.Finish();
    EXPECT_EQ(result.signal, GetParam());
    EXPECT_EQ(result.err, "");
    std::string name = GetParam() == SIGINT ? "SIGINT" : "SIGTERM";
    EXPECT_TRUE(Contains(result.out, "Stopping on " + name + ".\nServer stopped.\n")) << result.out;
}

// After a restart the handlers come from a freshly loaded image of the
// module; a handler of the unloaded one would crash the launcher here.
TEST_P(StopSignalTest, EndsTheServerCleanlyAfterARestart)
{
    RunningServer server(dir, {"-port", "0"});
    StartAndWait(server);
    server.Type("restart\n");
    StartAndWait(server, 2);
    server.Signal(GetParam());
    RunResult result = server.Finish();
    EXPECT_EQ(result.signal, GetParam());
    EXPECT_EQ(Count(result.out, "Server stopped.\n"), 2u) << result.out;
}

std::string SignalName(const ::testing::TestParamInfo<int>& signal)
{
    return signal.param == SIGINT ? "Sigint" : "Sigterm";
}

INSTANTIATE_TEST_SUITE_P(Reference, StopSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         SignalName);

}  // namespace
