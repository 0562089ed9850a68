// What the launcher tells systemd, read from a real notify socket.
#include "notify_listener.h"
#include "server_run.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;
const long long kWatchdog = 1000000;  // WATCHDOG_USEC, microseconds
// The launcher reads its clock a moment before it sends.
const long long kSlack = 20000;

RunOptions Notified(const NotifyListener& listener, Environment more)
{
    RunOptions options;
    options.environment = {{"NOTIFY_SOCKET", listener.Address()},
                           {"WATCHDOG_USEC", std::to_string(kWatchdog)}, {"TARN_TEST_QUIET", "1"}};
    options.environment.insert(options.environment.end(), more.begin(), more.end());
    return options;
}

long long LoggedTime(const ServerDir& dir, const std::string& prefix)
{
    return std::stoll(First(dir.Log(), prefix).substr(prefix.size()));
}

TEST(SystemdNotify, ReadyReloadingReadyStoppingAcrossARestartWithPingsInBounds)
{
    for (bool abstract : {false, true}) {
        ServerDir dir;
        NotifyListener listener(abstract ? "@tarn-test-" + std::to_string(getpid()) : dir.File("notify"));
        RunningServer server(dir, {}, Notified(listener, {}));
        std::vector<Datagram> all;
        auto take = [&](const char* line) {
            for (const Datagram& received : listener.Until(line))
                all.push_back(received);
        };
        for (const char* line : {"READY=1", "WATCHDOG=1", "WATCHDOG=1", "WATCHDOG=1"})
            take(line);
        server.Type("restart\n");
        take("READY=1");
        take("WATCHDOG=1");
        server.Type("quit\n");
        take("STOPPING=1");
        EXPECT_EQ(server.Finish().exitStatus, 0);
        std::vector<std::string> states;
        long long lastPing = 0;
        for (const Datagram& received : all) {
            if (HasLine(received.text, "WATCHDOG=1") && lastPing && !HasLine(received.text, "READY=1")) {
                EXPECT_GE(received.at - lastPing, kWatchdog / 4 - kSlack) << received.text;
                EXPECT_LE(received.at - lastPing, kWatchdog / 2) << received.text;
            }
            lastPing = HasLine(received.text, "WATCHDOG=1") ? received.at : lastPing;
            if (received.text.rfind("WATCHDOG=1", 0) != 0)
                states.push_back(received.text.substr(0, received.text.find('\n')));
        }
        EXPECT_EQ(states, (std::vector<std::string>{"READY=1", "RELOADING=1", "READY=1", "STOPPING=1"}));
        std::string mainPid = "MAINPID=" + std::to_string(server.Pid());
        EXPECT_TRUE(HasLine(all[0].text, mainPid) && HasLine(all[0].text, "STATUS=running")) << all[0].text;
        // The engine's children cannot speak for the service.
        EXPECT_EQ(First(dir.Log(), "notify_socket="), "notify_socket=unset");
    }
}

TEST(SystemdNotify, PingsStopWhileAFrameHangsAndNeverGoToAnotherProcessesWatchdog)
{
    for (const char* watchdogPid : {"", "1"}) {
        ServerDir dir;
        NotifyListener listener(dir.File("notify"));
        Environment more{{"TARN_TEST_HANG_MS", "1000"}};
        if (*watchdogPid)
            more.push_back({"WATCHDOG_PID", watchdogPid});
        RunningServer server(dir, {}, Notified(listener, more));
        std::vector<Datagram> all = listener.Until("READY=1");
        server.Type("hang\nquit\n");
        for (const Datagram& received : listener.Until("STOPPING=1"))
            all.push_back(received);
        EXPECT_EQ(server.Finish().exitStatus, 0);
        long long begins = LoggedTime(dir, "hang begins at="), ends = LoggedTime(dir, "hang ends at=");
        int during = 0, after = 0, pings = 0;
        for (const Datagram& received : all) {
            bool ping = HasLine(received.text, "WATCHDOG=1");
            pings += ping;
            during += ping && received.at > begins && received.at < ends;
            after += ping && received.at > ends;
        }
        EXPECT_EQ(during, 0);
        EXPECT_EQ(after, *watchdogPid ? 0 : 1);
        EXPECT_EQ(pings == 0, *watchdogPid != '\0');
    }
}

TEST(SystemdNotify, ASocketThatNamesNothingChangesNothingElse)
{
    for (const char* address : {"/nonexistent/notify", "@tarn-test-nobody", "relative/notify", ""}) {
        ServerDir dir;
        RunOptions options;
        options.input = "status\nquit\n";
        // A ping tried after every frame.
        options.environment = {{"NOTIFY_SOCKET", address}, {"WATCHDOG_USEC", "4"}};
        RunResult result = dir.Run({}, options);
        EXPECT_EQ(result.exitStatus, 0) << address;
        EXPECT_EQ(result.out, "\nConsole initialized.\nstatus\n") << address;
    }
}

}  // namespace
