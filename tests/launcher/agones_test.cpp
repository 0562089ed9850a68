// The launcher against the real Agones SDK server in local mode, and against
// a listener that never answers.
#include "sdk_sidecar.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kReady[] = "Ready request has been received!";
const char kHealth[] = "Health Ping Received!";
const char kShutdown[] = "Shutdown request has been received!";
const long long kSecond = 1000000;

RunOptions Sdk(const std::string& port, std::vector<std::pair<std::string, std::string>> more = {})
{
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    options.environment = std::move(more);
    options.environment.push_back({"AGONES_SDK_HTTP_PORT", port});
    return options;
}

int AcceptWithin(int listener, int milliseconds)
{
    pollfd wait{listener, POLLIN, 0};
    return poll(&wait, 1, milliseconds) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

// True when the peer has closed fd: what it sent is drained, then end of file.
bool ClosedByPeer(int fd)
{
    char buffer[512];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
    }
    return got == 0;
}

size_t Sockets(pid_t pid)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code gone;
        count += std::filesystem::read_symlink(entry, gone).string().rfind("socket:", 0) == 0;
    }
    return count;
}

class AgonesLifeTest : public ::testing::TestWithParam<int> {};

// A server's life under Agones, with a sidecar that comes up with it or 2 s
// late: Ready once, even across an engine restart (after Allocated, a second
// Ready would put a server with players back in the pool); health pings at
// most 2 s apart while frames run and none while one hangs; Shutdown
// delivered before the process ends.
TEST_P(AgonesLifeTest, ReadyOnceHealthWhileFramesRunShutdownAtTheEnd)
{
    if (SdkSidecar::Binary().empty())
        TARN_SKIP("the real Agones SDK server", "no ../shared/agones/sdk-server");
    SdkSidecar sidecar(GetParam());
    ServerDir dir;
    RunningServer server(dir, {}, Sdk(sidecar.Port(), {{"TARN_TEST_QUIET", "1"}, {"TARN_TEST_HANG_MS", "4000"}}));
    ASSERT_TRUE(sidecar.WaitForCalls(kReady, 1) && sidecar.WaitForCalls(kHealth, 2));
    server.Type("hang\nrestart\n");
    ASSERT_TRUE(sidecar.WaitForCalls(kHealth, sidecar.Calls(kHealth).size() + 4));
    server.Type("quit\n");
    EXPECT_EQ(server.Finish().exitStatus, 0);
    EXPECT_EQ(Matching(dir.Log(), "initialize").size(), 2u);
    EXPECT_EQ(sidecar.Calls(kReady).size(), 1u);
    EXPECT_EQ(sidecar.Calls(kShutdown).size(), 1u);
    EXPECT_EQ(sidecar.State(), "Shutdown");

    long long from = 0, to = 0;
    ASSERT_EQ(std::sscanf(First(dir.Log(), "hang").c_str(), "hang from=%lld to=%lld", &from, &to), 2);
    std::vector<long long> pings = sidecar.Calls(kHealth);
    // A ping sent just before the hang may be logged a little after it began.
    for (size_t i = 0; i < pings.size(); ++i) {
        EXPECT_FALSE(pings[i] > from + kSecond && pings[i] < to) << pings[i] - from << " µs into the hang";
        bool spansTheHang = i > 0 && pings[i] > from + kSecond && pings[i - 1] < to;
        EXPECT_TRUE(i == 0 || spansTheHang || pings[i] - pings[i - 1] <= 2 * kSecond) << "ping " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(SidecarDelaySeconds, AgonesLifeTest, ::testing::Values(0, 2));

// A request is given up and tried again on a new connection, with the frames
// running on meanwhile; its second to the microsecond, and the call that takes
// its place, are tested in process (supervisor_protocol_test.cpp).
TEST(AgonesSidecarTest, AListenerThatNeverAnswersNeitherHoldsTheFramesNorLeaksDescriptors)
{
    int port = FreeLoopbackPorts(1), listener = LoopbackListener(port);
    ServerDir dir;
    RunningServer server(dir, {}, Sdk(std::to_string(port)));
    std::vector<int> accepted;
    std::vector<size_t> frames;
    const int kConnections = 2;  // one given up, one in its place
    for (int i = 0; i < kConnections; ++i) {
        accepted.push_back(AcceptWithin(listener, 10000));
        ASSERT_GE(accepted.back(), 0) << "no connection " << i;
        frames.push_back(Matching(dir.Log(), "frame").size());
        EXPECT_EQ(Sockets(server.Pid()), 1u) << "sockets open at connection " << i;
    }
    for (int i = 1; i < kConnections; ++i) {
        EXPECT_TRUE(ClosedByPeer(accepted[i - 1])) << i;
        EXPECT_GT(frames[i] - frames[i - 1], 20u) << "frames between connections " << i;
    }
    server.Type("quit\n");
    EXPECT_EQ(server.Finish().exitStatus, 0);
    for (int fd : accepted)
        close(fd);
    close(listener);
}

// Only a decimal number from 1 to 65535 names the port: 65536 more than a
// listener's port must not reach it.
TEST(AgonesSidecarTest, AValueThatIsNoPortIsReportedAndNothingConnects)
{
    int port = FreeLoopbackPorts(1), listener = LoopbackListener(port);
    for (std::string value : {std::to_string(port + 65536), std::string("0"), std::string("-1"),
                              std::to_string(port) + "x", " " + std::to_string(port)}) {
        ServerDir dir;
        RunOptions options = Sdk(value, {{"TARN_TEST_FRAMES", "5"}});
        options.stdinKind = Stdin::kPipe;
        EXPECT_EQ(dir.Run({}, options).out,
                  "\nConsole initialized.\nWarning: AGONES_SDK_HTTP_PORT is not a port (" + value + ")\n");
        EXPECT_LT(AcceptWithin(listener, 0), 0) << value;
    }
    close(listener);
}

struct Hostile { std::string path, answer; size_t minReady; };

// In a child process, in front of the real SDK server on realPort: logs each
// request and relays it, but for the path that gets answer ("hold": none).
[[noreturn]] void ServeHostile(int listener, const Hostile& row, int realPort, const std::string& log)
{
    for (int fd;; close(fd)) {
        char buffer[512];
        ssize_t got = recv(fd = AcceptWithin(listener, -1), buffer, sizeof(buffer), 0);
        std::string request(buffer, got > 0 ? got : 0);
        bool asked = request.rfind("POST " + row.path + " ", 0) == 0;
        std::ofstream(log, std::ios::app) << request.substr(0, request.find(" HTTP/")) << "\n";
        if (got <= 0 || (asked && row.answer == "hold" && dup(fd) >= 0))
            continue;  // given up before it was sent, or held open for good
        int real = asked ? -1 : LoopbackConnection(realPort);
        std::string reply = asked ? row.answer : "";
        send(real, request.data(), request.size(), MSG_NOSIGNAL);
        while ((got = recv(real, buffer, sizeof(buffer), 0)) > 0)
            reply.append(buffer, got);
        close(real);
        send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
}

// /health keeps its schedule at the real SDK server whatever /ready meets; a
// loose status line is no success. A refused /shutdown, asked again a few
// times within its budget, is tested in process (supervisor_protocol_test.cpp).
TEST(AgonesSidecarTest, HostileAnswersNeitherStarveHealthNorPassForSuccess)
{
    if (SdkSidecar::Binary().empty())
        TARN_SKIP("the real Agones SDK server", "no ../shared/agones/sdk-server");
    for (const Hostile& row : {Hostile{"/ready", "hold", 1}, Hostile{"/ready", "HTTP/1.1 2000 OK\r\n\r\n", 2},
                               Hostile{"/ready", "HTTP/1.X 200 OK\r\n\r\n", 2}}) {
        int port = FreeLoopbackPorts(1), listener = LoopbackListener(port);  // before the real one picks its own
        SdkSidecar sidecar;
        ServerDir dir;
        pid_t hostile = fork();
        if (hostile == 0)
            ServeHostile(listener, row, std::stoi(sidecar.Port()), dir.File("requests"));
        RunningServer server(dir, {}, Sdk(std::to_string(port), {{"TARN_TEST_QUIET", "1"}}));
        EXPECT_TRUE(sidecar.WaitForCalls(kHealth, 3)) << row.answer;
        std::vector<long long> pings = sidecar.Calls(kHealth);
        for (size_t i = 1; i < pings.size(); ++i)
            EXPECT_LE(pings[i] - pings[i - 1], 2 * kSecond) << row.answer;
        EXPECT_GE(Count(dir.Read("requests"), "POST /ready\n"), row.minReady) << row.answer;
        server.Type("quit\n");
        EXPECT_EQ(server.Finish().exitStatus, 0);
        EXPECT_EQ(Count(dir.Read("requests"), "POST /shutdown\n"), 1u) << row.answer;
        kill(hostile, SIGKILL);
        waitpid(hostile, nullptr, 0);
        close(listener);
    }
}

}  // namespace
