// The supervisors in process, on a clock of the test's own: the times that
// every call is given are chosen, so a hung frame or seconds of pings cost
// nothing. systemd's side is a datagram socket in a temporary directory, the
// Agones sidecar a listener on an ephemeral loopback port; the kernel queues
// what the supervisor sends before its call returns, so a message that is
// not there at once was not sent.
#include "common/clock.h"
#include "service/supervisor.h"
#include "service/supervisors/agones_sdk.h"
#include "service/supervisors/systemd_notify.h"
#include "telemetry/cycle_clock.h"
#include "telemetry/telemetry.h"
#include "temp_workdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kMs = 1000;
constexpr int64_t kSecond = 1000 * kMs;

enum Call { kStarted, kFrame, kRestarting, kStopping };

void Deliver(ISupervisor& supervisor, Call call, int64_t at)
{
    switch (call) {
    case kStarted: supervisor.Started(at); break;
    case kFrame: supervisor.FrameDone(at); break;
    case kRestarting: supervisor.Restarting(at); break;
    case kStopping: supervisor.Stopping(at); break;
    }
}

// Frames for the telemetry, on the counter's time as the test sets it, one
// per letter: 'f' begins 0.1 ms after the frame before, 's' 3 ms after it,
// well beyond the 2 ms that the status line counts. The first frame of an
// engine start has no interval.
void RunFrames(const char* frames)
{
    static uint64_t ticks = CycleClock_Read();
    for (const char* frame = frames; *frame; ++frame) {
        ticks += static_cast<uint64_t>(Telemetry_TicksPerSecond() * (*frame == 's' ? 0.003 : 0.0001));
        Telemetry_FrameBeginsAt(ticks);
        Telemetry_FrameEndsAt(ticks);
    }
}

// The service manager's end, at a path in a temporary directory and at an
// abstract name.
class SystemdProtocolTest : public TempWorkdir {
protected:
    // The cycle counter's rate, which sorts the frame intervals, is
    // measured from here to the first engine start.
    void SetUp() override
    {
        TempWorkdir::SetUp();
        Telemetry_Open();
        dir_ = std::filesystem::current_path().string();
        path_ = Bind(dir_ + "/notify");
        abstract_ = Bind("@tarn-notify-" + std::to_string(getpid()));
    }
    void TearDown() override
    {
        close(path_);
        close(abstract_);
        TempWorkdir::TearDown();
    }
    int Bind(const std::string& name)
    {
        sockaddr_un address{AF_UNIX, {}};
        name.copy(address.sun_path, sizeof(address.sun_path) - 1);
        address.sun_path[0] = name[0] == '@' ? '\0' : name[0];
        int manager = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        EXPECT_EQ(bind(manager, reinterpret_cast<sockaddr*>(&address), length), 0) << name;
        return manager;
    }
    // Every datagram queued at manager since the last look.
    static std::vector<std::string> Sent(int manager)
    {
        std::vector<std::string> sent;
        char text[512];
        for (ssize_t length; (length = recv(manager, text, sizeof(text), MSG_DONTWAIT)) >= 0;)
            sent.emplace_back(text, static_cast<size_t>(length));
        return sent;
    }

    std::string dir_;
    int path_ = -1;
    int abstract_ = -1;
};

// With WATCHDOG_USEC=8 s, a ping is due 2 s after the one before; a status
// line 5 s after the one before, with the frames and intervals since then.
// Without a watchdog for this process, the same datagrams go without their
// WATCHDOG=1 line, and a datagram that was just that line does not go.
struct NotifyStep {
    int64_t at;
    Call call;
    const char* frames;  // for the telemetry, just before the call
    const char* sent;    // the datagram, "" for none; '$' stands for the pid
};
const NotifyStep kNotifyLife[] = {
    {0, kStarted, "f", "READY=1\nMAINPID=$\nSTATUS=running\nWATCHDOG=1\n"},
    {2 * kSecond - 1, kFrame, "", ""},
    {2 * kSecond, kFrame, "", "WATCHDOG=1\n"},
    {4 * kSecond, kFrame, "", "WATCHDOG=1\n"},
    {5 * kSecond - 1, kFrame, "sfff", ""},
    {5 * kSecond, kFrame, "", "STATUS=running, 1 frames/s, 75.0% of frames within 2 ms\n"},
    {6 * kSecond, kFrame, "", "WATCHDOG=1\n"},
    // A frame hangs 7 s: its end sends one ping and one status line, and
    // the next ones are a whole interval after it, not the missed ones.
    {13 * kSecond, kFrame, "ffffffffffffffff",
     "WATCHDOG=1\nSTATUS=running, 2 frames/s, 100.0% of frames within 2 ms\n"},
    {13 * kSecond + 1, kFrame, "", ""},
    {15 * kSecond - 1, kFrame, "", ""},
    {15 * kSecond, kFrame, "", "WATCHDOG=1\n"},
    {16 * kSecond, kRestarting, "", "RELOADING=1\nMONOTONIC_USEC=16000000\nSTATUS=restarting the engine\n"},
    {19 * kSecond, kFrame, "", ""},
    {20 * kSecond, kStarted, "f", "READY=1\nMAINPID=$\nSTATUS=running\nWATCHDOG=1\n"},
    {22 * kSecond, kFrame, "", "WATCHDOG=1\n"},
    {23 * kSecond, kStopping, "", "STOPPING=1\nSTATUS=stopping\n"},
    {30 * kSecond, kFrame, "", ""},
};

std::vector<std::string> Datagrams(std::string text, const std::string& pid, bool watched)
{
    if (text.find('$') != std::string::npos)
        text.replace(text.find('$'), 1, pid);
    if (!watched && text.find("WATCHDOG=1\n") != std::string::npos)
        text.erase(text.find("WATCHDOG=1\n"), std::strlen("WATCHDOG=1\n"));
    return text.empty() ? std::vector<std::string>{} : std::vector<std::string>{text};
}

TEST_F(SystemdProtocolTest, EachMessageAtItsTimeThroughRestartHangAndStop)
{
    const std::string self = std::to_string(getpid());
    struct Case { bool abstract; const char* watchdogUsec; std::string watchdogPid; bool watched; };
    for (const Case& c : {Case{false, "8000000", "", true}, Case{true, "8000000", self, true},
                          Case{false, "8000000", "1", false}, Case{false, nullptr, "", false}}) {
        std::string address = c.abstract ? "@tarn-notify-" + self : dir_ + "/notify";
        SCOPED_TRACE(address + " WATCHDOG_USEC=" + (c.watchdogUsec ? c.watchdogUsec : "unset") +
                     " WATCHDOG_PID=" + c.watchdogPid);
        setenv("NOTIFY_SOCKET", address.c_str(), 1);
        c.watchdogUsec ? setenv("WATCHDOG_USEC", c.watchdogUsec, 1) : unsetenv("WATCHDOG_USEC");
        c.watchdogPid.empty() ? unsetenv("WATCHDOG_PID") : setenv("WATCHDOG_PID", c.watchdogPid.c_str(), 1);
        ISupervisor* notify = Systemd_OpenSupervisor();
        ASSERT_NE(notify, nullptr);
        for (const NotifyStep& step : kNotifyLife) {
            if (step.call == kStarted)
                Telemetry_EngineStarted(0);
            RunFrames(step.frames);
            Deliver(*notify, step.call, step.at);
            EXPECT_EQ(Sent(c.abstract ? abstract_ : path_), Datagrams(step.sent, self, c.watched))
                << "at " << step.at << " µs";
        }
        notify->Close();
        EXPECT_EQ(Sent(c.abstract ? path_ : abstract_), std::vector<std::string>{});
        // What the engine starts cannot speak for the service.
        EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);
        EXPECT_EQ(std::getenv("WATCHDOG_USEC"), nullptr);
        EXPECT_EQ(std::getenv("WATCHDOG_PID"), nullptr);
    }
}

// The sidecar's end: a listener on an ephemeral loopback port.
int LoopbackListener(int& port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    port = ntohs(address.sin_port);
    return listener;
}

int AcceptWithin(int listener, int milliseconds)
{
    pollfd wait{listener, POLLIN, 0};
    return poll(&wait, 1, milliseconds) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

// The path of the POST that arrives on fd, or what arrived instead.
std::string RequestPath(int fd)
{
    std::string request;
    char buffer[512];
    pollfd wait{fd, POLLIN, 0};
    for (ssize_t got = 1; got > 0 && request.find("\r\n\r\n{}") == std::string::npos;) {
        got = poll(&wait, 1, 5000) == 1 ? recv(fd, buffer, sizeof(buffer), 0) : 0;
        request.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }
    size_t end = request.find(" HTTP/1.1\r\n");
    return request.rfind("POST /", 0) == 0 && end != std::string::npos ? request.substr(5, end - 5) : request;
}

// True when the supervisor has closed fd: what it sent is drained, then end
// of file.
bool ClosedByPeer(int fd)
{
    char buffer[512];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
    }
    return got == 0;
}

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
const char kRefused[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";

// An exchange that a frame begins is sent by a frame 1 ms later, then
// answered at once; the next frame reads the answer and may begin the next.
// One left without an answer must stay open until a frame gives it up and
// begins the next.
struct SidecarStep {
    int64_t at;
    Call call;
    const char* began;   // the path of the exchange begun, "" for none
    const char* answer;  // to it; null for none
};
const SidecarStep kSidecarLife[] = {
    {0, kStarted, "", ""},
    {0, kFrame, "/health", kOk},
    {2 * kMs, kFrame, "/ready", kRefused},
    {502 * kMs - 1, kFrame, "", ""},
    {502 * kMs, kFrame, "/ready", kRefused},
    {1000 * kMs - 1, kFrame, "", ""},
    {1000 * kMs, kFrame, "/health", kOk},
    {1002 * kMs - 1, kFrame, "", ""},
    {1002 * kMs, kFrame, "/ready", kOk},
    {1500 * kMs, kFrame, "", ""},
    {2000 * kMs - 1, kFrame, "", ""},
    {2000 * kMs, kFrame, "/health", kOk},
    // A frame hangs 4 s: one /health at its end, the next a second later.
    {6000 * kMs, kFrame, "/health", kOk},
    {6002 * kMs, kFrame, "", ""},
    {7000 * kMs - 1, kFrame, "", ""},
    {7000 * kMs, kFrame, "/health", kOk},
    // /ready was for the process, not for each engine start.
    {7500 * kMs, kRestarting, "", ""},
    {7600 * kMs, kStarted, "", ""},
    {7600 * kMs, kFrame, "", ""},
    {8000 * kMs, kFrame, "/health", kOk},
    // Without an answer, an exchange is given up a second after it began.
    {9000 * kMs, kFrame, "/health", nullptr},
    {10000 * kMs - 1, kFrame, "", ""},
    {10000 * kMs, kFrame, "/health", kOk},
};

// The sidecar while Stopping waits, in a process of its own: it refuses the
// first refusals calls and takes the next, and writes each path with its
// time to log before it answers.
struct Arrival {
    int64_t at;
    char path[16];
};
[[noreturn]] void ServeShutdown(int listener, int refusals, int log)
{
    for (int calls = 0;; ++calls) {
        int fd = AcceptWithin(listener, -1);
        Arrival arrival{Clock_Microseconds(), {}};
        std::snprintf(arrival.path, sizeof(arrival.path), "%s", RequestPath(fd).c_str());
        if (write(log, &arrival, sizeof(arrival)) != sizeof(arrival))
            std::_Exit(1);
        const char* answer = calls < refusals ? kRefused : kOk;
        send(fd, answer, std::strlen(answer), MSG_NOSIGNAL);
        close(fd);
    }
}

// Stopping against that sidecar, on the real clock that its budget is
// spent on; the calls that reached the sidecar, with their spacing checked.
std::vector<Arrival> StopBesideTheSidecar(ISupervisor& sdk, int listener, int refusals)
{
    int log[2];
    if (pipe2(log, O_CLOEXEC) != 0)
        return {};
    pid_t sidecar = fork();
    if (sidecar == 0)
        ServeShutdown(listener, refusals, log[1]);
    close(log[1]);
    int64_t begun = Clock_Microseconds();
    sdk.Stopping(begun);
    EXPECT_LT(Clock_Microseconds() - begun, kAgonesShutdownBudget);
    kill(sidecar, SIGKILL);
    waitpid(sidecar, nullptr, 0);
    std::vector<Arrival> arrivals;
    for (Arrival arrival; read(log[0], &arrival, sizeof(arrival)) == sizeof(arrival);)
        arrivals.push_back(arrival);
    close(log[0]);
    for (size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_STREQ(arrivals[i].path, "/shutdown");
        // Refused, it waits 50 ms, then twice as long each time.
        if (i > 0) {
            EXPECT_GE(arrivals[i].at - arrivals[i - 1].at, (25 << i) * kMs) << "before call " << i;
        }
    }
    return arrivals;
}

ISupervisor* OpenBeside(int& listener)
{
    int port = 0;
    listener = LoopbackListener(port);
    setenv("AGONES_SDK_HTTP_PORT", std::to_string(port).c_str(), 1);
    return listener >= 0 ? Agones_OpenSupervisor() : nullptr;
}

void LiveWithTheSidecar()
{
    int listener = -1;
    ISupervisor* sdk = OpenBeside(listener);
    ASSERT_NE(sdk, nullptr);
    int held = -1;
    for (const SidecarStep& step : kSidecarLife) {
        Deliver(*sdk, step.call, step.at);
        if (held >= 0) {
            EXPECT_EQ(ClosedByPeer(held), *step.began != '\0') << "the held exchange at " << step.at << " µs";
            if (*step.began) {
                close(held);
                held = -1;
            }
        }
        int fd = AcceptWithin(listener, *step.began ? 5000 : 0);
        ASSERT_EQ(fd >= 0, *step.began != '\0') << "a call begun at " << step.at << " µs";
        if (fd < 0)
            continue;
        sdk->FrameDone(step.at + kMs);
        ASSERT_EQ(RequestPath(fd), step.began) << "at " << step.at << " µs";
        if (!step.answer) {
            held = fd;
            continue;
        }
        send(fd, step.answer, std::strlen(step.answer), MSG_NOSIGNAL);
        close(fd);
    }
    EXPECT_EQ(StopBesideTheSidecar(*sdk, listener, 3).size(), 4u) << "/shutdown calls";
    sdk->FrameDone(12000 * kMs);
    EXPECT_LT(AcceptWithin(listener, 0), 0) << "a call after the stop";
    sdk->Close();
    close(listener);
}

// Pauses of 50, 100, 200 and 400 ms leave no room in the budget for a sixth.
void StopBesideASidecarThatAlwaysRefuses()
{
    int listener = -1;
    ISupervisor* sdk = OpenBeside(listener);
    ASSERT_NE(sdk, nullptr);
    sdk->Started(0);
    size_t calls = StopBesideTheSidecar(*sdk, listener, INT32_MAX).size();
    EXPECT_TRUE(calls >= 2 && calls <= 5) << calls << " /shutdown calls";
    sdk->Close();
    close(listener);
}

// The supervisor lives once per process, as in the launcher: each life is
// lived in a child, which prints its failures as they happen.
void InAChild(void (*life)())
{
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        life();
        std::fflush(stdout);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the life failed, as printed above";
}

TEST(AgonesProtocolTest, ReadyRetriedUntilTakenHealthEverySecondOfFramesShutdownRetriedAtTheStop)
{
    InAChild(LiveWithTheSidecar);
}

TEST(AgonesProtocolTest, AShutdownAlwaysRefusedIsGivenUpWithinItsBudget)
{
    InAChild(StopBesideASidecarThatAlwaysRefuses);
}

}  // namespace
