// systemd's notification protocol: readiness, restarts, the stop, a status
// line with the frame rate and the share of steady frames, and the
// watchdog's pings, one datagram per event on the socket that NOTIFY_SOCKET
// names.
#include "service/supervisors/systemd_notify.h"

#include "common/text_builder.h"
#include "output/sys_printf.h"
#include "service/supervisor.h"
#include "service/supervisors/notify_socket.h"
#include "telemetry/telemetry.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int64_t kNever = INT64_MAX;
constexpr int64_t kStatusInterval = 5 * 1000000;
constexpr int64_t kMicrosecondsPerSecond = 1000000;
// Every message is a few short lines.
constexpr size_t kMessageSize = 256;
// More than the longest usable address, enough to recognise a longer one.
constexpr int kShownAddress = 128;

// Frame intervals so far, and those of at most 2 ms.
struct IntervalTally {
    uint64_t within = 0;
    uint64_t all = 0;
};

IntervalTally Intervals()
{
    const FrameHistogram& histogram = Telemetry_Histogram(FrameMeasure::kInterval);
    IntervalTally tally;
    for (int bucket = 0; bucket <= kFrameBuckets; ++bucket) {
        tally.all += histogram.counts[bucket];
        tally.within += bucket < kWithin2msBuckets ? histogram.counts[bucket] : 0;
    }
    return tally;
}

// One datagram's text. Format leaves out a line that does not fit whole
// rather than sending it cut.
using NotifyMessage = FixedText<kMessageSize>;

// A positive decimal number that is the whole of text, or 0.
int64_t PositiveNumber(const char* text)
{
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    return errno == 0 && *end == '\0' && value > 0 ? value : 0;
}

// The watchdog's timeout when it applies to this process, or 0: set, and
// meant for this process or for no process in particular.
int64_t WatchdogMicroseconds()
{
    int64_t timeout = PositiveNumber(std::getenv("WATCHDOG_USEC"));
    const char* pid = std::getenv("WATCHDOG_PID");
    if (pid && PositiveNumber(pid) != getpid())
        return 0;
    return timeout;
}

class SystemdNotify final : public ISupervisor {
public:
    // False when NOTIFY_SOCKET is not a usable address.
    bool Open(const char* address)
    {
        pid_ = getpid();
        // Pings at least twice per timeout, and no more than four times.
        pingInterval_ = WatchdogMicroseconds() / 4;
        return Notify_Open(socket_, address);
    }

    void Started(int64_t now) override
    {
        NotifyMessage message;
        message.Format("READY=1\nMAINPID=%d\nSTATUS=running\n", static_cast<int>(pid_));
        if (pingInterval_ > 0)
            message.Format("WATCHDOG=1\n");
        Send(message);
        framesAtStatus_ = Telemetry_Frames();
        framesSince_ = now;
        tallySince_ = Intervals();
        nextStatus_ = now + kStatusInterval;
        nextPing_ = pingInterval_ > 0 ? now + pingInterval_ : kNever;
        nextDue_ = nextPing_ < nextStatus_ ? nextPing_ : nextStatus_;
    }

    void FrameDone(int64_t now) override
    {
        if (now >= nextDue_)
            SendDue(now);
    }

    void Restarting(int64_t now) override
    {
        NotifyMessage message;
        message.Format("RELOADING=1\nMONOTONIC_USEC=%lld\nSTATUS=restarting the engine\n",
                       static_cast<long long>(now));
        Send(message);
        nextDue_ = kNever;
    }

    void Stopping(int64_t) override
    {
        NotifyMessage message;
        message.Format("STOPPING=1\nSTATUS=stopping\n");
        Send(message);
        nextDue_ = kNever;
    }

    void Close() override { Notify_Close(socket_); }

private:
    // The ping and the status line that are due, in one datagram. A send
    // that fails is not retried: the next one is due at its usual time.
    void SendDue(int64_t now)
    {
        NotifyMessage message;
        if (now >= nextPing_) {
            message.Format("WATCHDOG=1\n");
            nextPing_ = now + pingInterval_;
        }
        if (now >= nextStatus_) {
            int64_t frames = Telemetry_Frames() - framesAtStatus_;
            int64_t elapsed = now - framesSince_;
            int64_t rate = (frames * kMicrosecondsPerSecond + elapsed / 2) / elapsed;
            AddStatus(message, rate);
            framesAtStatus_ += frames;
            framesSince_ = now;
            nextStatus_ = now + kStatusInterval;
        }
        nextDue_ = nextPing_ < nextStatus_ ? nextPing_ : nextStatus_;
        Send(message);
    }

    // The frame rate and the share of the frames since the last status
    // line that began within 2 ms of the frame before, rounded down: 100.0%
    // only when every one did.
    void AddStatus(NotifyMessage& message, int64_t rate)
    {
        IntervalTally tally = Intervals();
        uint64_t all = tally.all - tallySince_.all;
        uint64_t tenths = all > 0 ? (tally.within - tallySince_.within) * 1000 / all : 0;
        tallySince_ = tally;
        if (all == 0) {
            message.Format("STATUS=running, %lld frames/s\n", static_cast<long long>(rate));
            return;
        }
        message.Format("STATUS=running, %lld frames/s, %llu.%llu%% of frames within 2 ms\n",
                       static_cast<long long>(rate), static_cast<unsigned long long>(tenths / 10),
                       static_cast<unsigned long long>(tenths % 10));
    }

    void Send(const NotifyMessage& message) { Notify_Send(socket_, message.Text(), message.Length()); }

    NotifySocket socket_;
    pid_t pid_ = 0;
    int64_t pingInterval_ = 0;    // a quarter of the watchdog's timeout; 0 without one
    int64_t nextPing_ = kNever;   // monotonic microseconds, as all times here
    int64_t nextStatus_ = kNever;
    int64_t nextDue_ = kNever;    // the earlier of the two: one comparison per frame
    int64_t framesAtStatus_ = 0;  // the telemetry's frame count at framesSince_
    int64_t framesSince_ = 0;
    IntervalTally tallySince_;    // the frame intervals at the last status line
};

SystemdNotify s_notify;

// The launcher speaks for the service alone: the engine's helpers and the
// programs it runs must not inherit the socket and ping in its name.
void ForgetEnvironment()
{
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
}

}  // namespace

ISupervisor* Systemd_OpenSupervisor()
{
    const char* address = std::getenv("NOTIFY_SOCKET");
    if (!address)
        return nullptr;
    // A supervisor waiting for a READY=1 that cannot come must at least be
    // told why; an empty value counts as none.
    const char* unusable = *address ? Notify_Unusable(address) : nullptr;
    if (unusable)
        Sys_Printf("Warning: NOTIFY_SOCKET is %s (%.*s)\n", unusable, kShownAddress, address);
    bool opened = !unusable && s_notify.Open(address);
    ForgetEnvironment();
    return opened ? &s_notify : nullptr;
}
