#ifndef TARN_BENCH_CONTROL_CLIENTS_H
#define TARN_BENCH_CONTROL_CLIENTS_H

#include "launcher_run.h"
#include "service/listeners/control_socket.h"

#include <string>

// What attached consoles cost the frame loop: consoles on a launcher's
// control socket that only read, and the service's per-frame calls with
// such a socket open in this process.

// What the idle consoles met over the runs they attended.
struct Attendance {
    int runs = 0;
    int unattached = 0;   // runs in which not all of them got attached
    int late = 0;         // runs in which that was known only after the warm-up
    int closedEarly = 0;  // consoles closed before the engine's last frame
    long leastMargin = 0;         // warm-up frames left when they were known attached, least of the runs
    long long leastBytes = -1;    // received by one console in one run
    long long mostBytes = 0;
    double lastMsPerFrame = 0;    // the frames' length from the attach to the end, last run
};

// As many consoles as the launcher admits, attached to a launcher's
// control socket and left idle: each reads what arrives, so the launcher
// never finds it behind, and sends nothing.
class IdleConsoles {
public:
    // A directory of its own for the socket, and the file the engine keeps
    // its frame count in.
    IdleConsoles();
    ~IdleConsoles();
    IdleConsoles(const IdleConsoles&) = delete;
    IdleConsoles& operator=(const IdleConsoles&) = delete;

    // setup with the control socket on, the engine's frame count shared
    // and warmup frames before the measured ones.
    LaunchSetup With(LaunchSetup setup, long warmup) const;
    // setup with no control socket and the same engine.
    LaunchSetup Without(LaunchSetup setup, long warmup) const;
    // For a launcher's meanwhile: attaches them all once the socket takes
    // connections, shows with a ninth, which the launcher must refuse, that
    // they are attached, then reads until the launcher has closed every one.
    // warmup and frames are the engine's, to tell a late attach or an early
    // close; frames 0 checks no close.
    void Attend(long warmup, long frames);
    const Attendance& Seen() const { return seen_; }
    // A path in their directory, for a file of the benchmark's own.
    std::string File(const std::string& name) const { return directory_ + "/" + name; }

private:
    struct Received {
        long long bytes[kMaxControlClients] = {};
        long closedAt[kMaxControlClients] = {};  // the engine's frame then
    };
    void Note(bool attached, long margin, long lastFrame, const Received& received);

    std::string directory_;
    void* shared_ = nullptr;                // the mapped frame file, if any
    volatile long* engineFrame_ = nullptr;  // the engine's Shared::frame
    Attendance seen_;
};

// Nanoseconds of the service's per-frame calls (Service_FrameDone and
// Service_NextLine) in this process, with nothing open ("off") and with a
// control socket open and as many consoles attached as it admits ("on").
struct ControlHookCost {
    bool attached = false;
    double hotOff = 0, hotOn = 0;        // back to back, 20 million calls
    // Calls 1 ms apart, as frames come at 1000 a second: the mean of all,
    // the median of those that did not poll the socket, and the median of
    // those that did.
    double pacedOff = 0, pacedOn = 0;
    double quietOff = 0, quietOn = 0;
    double pollingOn = 0;
    long pacedCalls = 0, polls = 0;
    double pollIntervalMs = 0;           // between two polls, on average
    double clock = 0;                    // the coarse clock read alone, back to back
};
// Opens the control socket for good: once per process.
ControlHookCost MeasureControlHook();

#endif
