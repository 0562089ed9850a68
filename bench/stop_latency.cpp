#include "stop_latency.h"

#include "monotonic.h"
#include "server_run.h"

#include <algorithm>
#include <csignal>
#include <sys/wait.h>

namespace {

// One start and stop; -1 when the launcher did not come up or end.
long long OneStop()
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = Stdin::kPipeKeptOpen;
    RunningServer server(dir, {}, options);
    if (!dir.WaitForLog("frame 1"))
        return -1;
    long long sent = MonotonicNanoseconds();
    server.Signal(SIGTERM);
    // Waits without collecting, so that Finish still reaps the launcher.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(server.Pid()), &info, WEXITED | WNOWAIT) != 0)
        return -1;
    long long ended = MonotonicNanoseconds();
    RunResult result = server.Finish();
    return result.signal == SIGTERM ? ended - sent : -1;
}

}  // namespace

std::vector<long long> StopLatencies(int stops)
{
    std::vector<long long> latencies;
    for (int i = 0; i < stops; ++i)
        if (long long latency = OneStop(); latency >= 0)
            latencies.push_back(latency);
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}
