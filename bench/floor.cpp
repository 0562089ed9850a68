#include "floor.h"

#include <tarn/engine_api.h>

#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

void OnAlarm(int) {}

void TimerSleep()
{
    itimerval timer{};
    timer.it_value.tv_usec = 1000;
    if (setitimer(ITIMER_REAL, &timer, nullptr) == 0)
        pause();
}

void SelectSleep()
{
    timeval timeout{0, 1000};
    select(1, nullptr, nullptr, nullptr, &timeout);
}

struct LoadedEngine {
    void* module = nullptr;
    IServerEngineAPI* api = nullptr;
    NetSleepFunction netSleep = nullptr;
};

LoadedEngine LoadEngine(const std::string& path)
{
    LoadedEngine engine;
    engine.module = dlopen(path.c_str(), RTLD_NOW);
    if (!engine.module)
        return engine;
    auto factory = reinterpret_cast<InterfaceFactory>(dlsym(engine.module, "CreateInterface"));
    engine.netSleep = reinterpret_cast<NetSleepFunction>(dlsym(engine.module, "NET_Sleep_Timeout"));
    engine.api = factory ? static_cast<IServerEngineAPI*>(factory(ENGINE_LAUNCHER_API_VERSION, nullptr))
                         : nullptr;
    if (engine.api)
        engine.api->Initialize(".", "", nullptr, nullptr);
    return engine;
}

template <typename Pass>
PacingFigures Measure(long iterations, Pass pass)
{
    std::vector<long long> intervals(iterations);
    long long startCpu = CpuMicroseconds();
    long long start = MonotonicNanoseconds();
    long long last = start;
    for (long i = 0; i < iterations; ++i) {
        pass();
        long long now = MonotonicNanoseconds();
        intervals[i] = now - last;
        last = now;
    }
    return Summarise(intervals, last - start, CpuMicroseconds() - startCpu);
}

}  // namespace

PacingFigures FloorOfStrategy(int strategy, long iterations, const std::string& enginePath)
{
    switch (strategy) {
    case 1:
        signal(SIGALRM, OnAlarm);
        return Measure(iterations, TimerSleep);
    case 2:
        return Measure(iterations, SelectSleep);
    case 3: {
        setenv("BENCH_NET_SLEEP", "socket", 1);
        LoadedEngine engine = LoadEngine(enginePath);
        if (!engine.netSleep)
            return {};
        PacingFigures figures = Measure(iterations, engine.netSleep);
        engine.api->Shutdown();
        unsetenv("BENCH_NET_SLEEP");
        return figures;
    }
    default:
        return Measure(iterations, [] { usleep(1000); });
    }
}

double BareEngineLoopNanoseconds(const std::string& enginePath, long frames, bool withPoll)
{
    setenv("BENCH_NET_SLEEP", "none", 1);
    setenv("BENCH_FRAMES", std::to_string(frames + 1000).c_str(), 1);
    LoadedEngine engine = LoadEngine(enginePath);
    if (!engine.api || !engine.netSleep)
        return 0;
    int idle[2];
    if (pipe(idle) != 0)
        return 0;
    long long start = MonotonicNanoseconds();
    for (long i = 0; i < frames; ++i) {
        engine.netSleep();
        if (withPoll) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(idle[0], &readable);
            timeval noWait{0, 0};
            select(idle[0] + 1, &readable, nullptr, nullptr, &noWait);
        }
        engine.api->RunFrame();
    }
    double perFrame = static_cast<double>(MonotonicNanoseconds() - start) / frames;
    close(idle[0]);
    close(idle[1]);
    engine.api->Shutdown();
    unsetenv("BENCH_FRAMES");
    unsetenv("BENCH_NET_SLEEP");
    return perFrame;
}
