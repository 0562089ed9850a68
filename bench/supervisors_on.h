#ifndef TARN_BENCH_SUPERVISORS_ON_H
#define TARN_BENCH_SUPERVISORS_ON_H

#include "launcher_run.h"
#include "sdk_sidecar.h"

#include <string>

// Every supervisor the launcher speaks to, at once: a datagram socket of
// the benchmark's own as NOTIFY_SOCKET, with WATCHDOG_USEC, and a live
// Agones SDK server as AGONES_SDK_HTTP_PORT.
class SupervisorsOn {
public:
    // Opens the socket, starts the SDK server and waits until it answers.
    SupervisorsOn();
    ~SupervisorsOn();
    SupervisorsOn(const SupervisorsOn&) = delete;
    SupervisorsOn& operator=(const SupervisorsOn&) = delete;

    bool Live() const { return live_; }
    // setup with the environment that names all of them.
    LaunchSetup With(LaunchSetup setup) const;
    // Datagrams that arrived on the notify socket since the last call.
    long TakeDatagrams();
    // Calls the SDK server logged with message ("Health Ping Received!").
    size_t SdkCalls(const std::string& message) const { return sidecar_.Calls(message).size(); }

    // Nanoseconds per call of the run loop's hook, Service_FrameDone, in
    // this process: with none open, then with all of them open (pings
    // included), and of the clock read alone. Opens them for good: once
    // per process.
    struct HookCost {
        double off, on, clock;
    };
    HookCost MeasureHook() const;

private:
    SdkSidecar sidecar_;
    std::string directory_;
    int notify_ = -1;
    bool live_ = false;
};

#endif
