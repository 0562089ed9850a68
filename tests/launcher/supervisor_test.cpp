// What the launcher tells systemd, read from a real notify socket.
#include "server_run.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const long long kWatchdog = 1000000;  // WATCHDOG_USEC
const long long kSlack = 20000;       // the launcher reads its clock a moment before it sends

// The service manager's end: a datagram socket at a path or, for "@name", abstract.
int Listen(const std::string& address)
{
    sockaddr_un bound{AF_UNIX, {}};
    std::memcpy(bound.sun_path, address.data(), address.size());
    bound.sun_path[0] = address[0] == '@' ? '\0' : address[0];
    int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
    setsockopt(listener, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof(on));
    bind(listener, reinterpret_cast<sockaddr*>(&bound), offsetof(sockaddr_un, sun_path) + address.size());
    return listener;
}

// The next datagram, or "" after 20 s without one; at: the kernel's time of its arrival.
std::string Receive(int listener, long long& at)
{
    char text[512];
    iovec part{text, sizeof(text)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
    msghdr message{nullptr, 0, &part, 1, control, sizeof(control), 0};
    pollfd ready{listener, POLLIN, 0};
    ssize_t length = poll(&ready, 1, 20000) > 0 ? recvmsg(listener, &message, 0) : 0;
    timeval arrival{};
    if (length > 0)
        std::memcpy(&arrival, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof(arrival));
    at = arrival.tv_sec * 1000000LL + arrival.tv_usec;
    return std::string(text, length > 0 ? length : 0);
}

bool HasLine(const std::string& text, const std::string& line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The run loop's calls reach the socket in order and on the real clock; the
// protocol's own cases (an abstract name, a WATCHDOG_PID of another process,
// the exact spacing) are tested in process (supervisor_protocol_test.cpp).
TEST(SystemdNotifyTest, ReadyReloadingReadyStoppingWithPingsInBoundsThatStopWhileAFrameHangs)
{
    ServerDir dir;
    std::string address = dir.File("notify");
    int listener = Listen(address);
    RunOptions options;
    options.input = "a\nhang\n";  // one line per frame: the second frame hangs for a second
    options.environment = {{"NOTIFY_SOCKET", address}, {"WATCHDOG_USEC", std::to_string(kWatchdog)},
        {"TARN_TEST_HANG_MS", "1000"}, {"TARN_TEST_FRAMES", "700"}, {"TARN_TEST_CODES", "0,3"}};
    RunningServer server(dir, {}, options);
    std::vector<std::string> states;
    long long at = 0, last = 0;
    int pings = 0, hangs = 0;
    for (std::string text = Receive(listener, at); !text.empty(); text = Receive(listener, at)) {
        bool ping = HasLine(text, "WATCHDOG=1"), ready = HasLine(text, "READY=1");
        bool hang = ping && !ready && at - last >= 1000000;
        EXPECT_TRUE(!ping || ready || hang || (at - last >= kWatchdog / 4 - kSlack && at - last <= kWatchdog / 2))
            << at - last;
        EXPECT_TRUE(!states.empty() || (HasLine(text, "MAINPID=" + std::to_string(server.Pid())) &&
                                        HasLine(text, "STATUS=running"))) << text;
        if (!ping || ready)
            states.push_back(text.substr(0, text.find('\n')));
        hangs += hang;
        pings += ping;
        last = ping ? at : last;
        if (HasLine(text, "STOPPING=1"))
            break;
    }
    close(listener);
    EXPECT_EQ(server.Finish().exitStatus, 0);
    EXPECT_EQ(states, (std::vector<std::string>{"READY=1", "RELOADING=1", "READY=1", "STOPPING=1"}));
    EXPECT_EQ(hangs, 1);
    EXPECT_GT(pings, 0);
    // Whatever the engine starts cannot speak for the service.
    EXPECT_EQ(First(dir.Log(), "notify_socket="), "notify_socket=unset");
}

// A path that names nothing yet may still be bound: no warning.
TEST(SystemdNotifyTest, AnUnusableAddressIsReportedOnceAndTheServerRunsOn)
{
    ServerDir dir;
    dir.Write("file", "");
    for (std::pair<std::string, std::string> row : std::vector<std::pair<std::string, std::string>>{
             {dir.File("file"), "a regular file, not a socket"}, {dir.Path(), "a directory, not a socket"},
             {"/dev/null", "not a socket"}, {"/" + std::string(200, 'n'), "too long for a socket address"},
             {"run/notify", "neither an absolute path nor @name"}, {"/nonexistent/notify", ""}}) {
        RunOptions options;
        options.environment = {{"NOTIFY_SOCKET", row.first}, {"TARN_TEST_FRAMES", "1"}};
        std::string warning = "Warning: NOTIFY_SOCKET is " + row.second + " (" + row.first.substr(0, 128) + ")\n";
        EXPECT_EQ(dir.Run({}, options).out, "\nConsole initialized.\n" + (row.second.empty() ? "" : warning));
    }
}

}  // namespace
