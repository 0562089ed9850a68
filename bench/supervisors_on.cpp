#include "supervisors_on.h"

#include "monotonic.h"
#include "service/service.h"
#include "service/supervisors/systemd_notify.h"
#include "stats.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Pings at least every second, as a unit with WatchdogSec=2 would ask.
const char kWatchdogMicroseconds[] = "2000000";

}  // namespace

SupervisorsOn::SupervisorsOn()
{
    char pattern[] = "/tmp/tarn-bench-notify-XXXXXX";
    directory_ = mkdtemp(pattern) ? pattern : "/tmp";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = directory_ + "/notify";
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    notify_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bind(notify_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    // It takes a second or so to listen.
    for (int tries = 0; tries < 100 && !SdkSidecar::Binary().empty() && !live_; ++tries) {
        live_ = !sidecar_.State().empty();
        if (!live_)
            usleep(100000);
    }
}

SupervisorsOn::~SupervisorsOn()
{
    close(notify_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

LaunchSetup SupervisorsOn::With(LaunchSetup setup) const
{
    setup.environment.push_back({"NOTIFY_SOCKET", directory_ + "/notify"});
    setup.environment.push_back({"WATCHDOG_USEC", kWatchdogMicroseconds});
    setup.environment.push_back({"AGONES_SDK_HTTP_PORT", sidecar_.Port()});
    return setup;
}

long SupervisorsOn::TakeDatagrams()
{
    char datagram[4096];
    long count = 0;
    while (recv(notify_, datagram, sizeof(datagram), 0) >= 0)
        ++count;
    return count;
}

SupervisorsOn::HookCost SupervisorsOn::MeasureHook() const
{
    HookCost cost{};
    cost.off = NanosecondsPerCall(Service_FrameDone);
    // The launchers started later must not inherit them.
    LaunchSetup named = With({});
    for (const auto& [name, value] : named.environment)
        setenv(name.c_str(), value.c_str(), 1);
    Service_AddSupervisor(Systemd_OpenSupervisor());
    for (const auto& [name, value] : named.environment)
        unsetenv(name.c_str());
    Service_Started();
    cost.on = NanosecondsPerCall(Service_FrameDone);
    Service_Stopping();
    Service_Close();
    // The clock the hook reads every frame.
    volatile int64_t sink = 0;
    cost.clock = NanosecondsPerCall([&sink] {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        sink = now.tv_nsec;
    });
    return cost;
}
