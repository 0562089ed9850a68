// The Agones SDK sidecar, over its REST API on 127.0.0.1:AGONES_SDK_HTTP_PORT.
// /ready once per process after the first frame (Ready after Allocated would
// put a server with players back in the pool), /health every second while
// frames complete, /shutdown when the process ends. Every exchange is driven
// from the frame loop by a due time; only /shutdown waits, and not for long.
#include "service/supervisors/agones_sdk.h"

#include "common/clock.h"
#include "common/listen_address.h"
#include "output/sys_printf.h"
#include "service/supervisor.h"
#include "service/supervisors/http_post.h"

#include <cstdlib>
#include <poll.h>

namespace {

constexpr int64_t kSecond = 1000000;
// The sidecar can come up after the server.
constexpr int64_t kReadyRetry = kSecond / 2;
// An exchange without an answer by then is abandoned and tried again.
constexpr int64_t kAnswerTimeout = kSecond;
// How often a pending exchange is looked at, in µs: every frame at 1000 frames
// per second, far less often when frames run flat out.
constexpr int64_t kRecheck = 200;
// The first pause between attempts at /shutdown; each pause doubles, so a
// sidecar that refuses is asked a few times in the budget, not hammered.
constexpr int kShutdownRetryMilliseconds = 50;
constexpr int64_t kNever = INT64_MAX;
// Enough of a bad port value to recognise it in the message.
constexpr int kShownValue = 32;

enum Call { kReady, kHealth, kShutdown, kCalls, kNoCall = kCalls };
const char* const kPaths[kCalls] = {"/ready", "/health", "/shutdown"};

int64_t Earliest(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

class AgonesSdk : public ISupervisor {
public:
    bool Open(int port);
    void Started(int64_t now) override;
    // A frame where nothing is due costs this comparison.
    void FrameDone(int64_t now) override
    {
        if (now >= due_)
            Step(now);
    }
    // Nothing to say: Ready was for the process, and frames stop meanwhile.
    void Restarting(int64_t) override {}
    void Stopping(int64_t now) override;
    void Close() override { post_.Close(); }

private:
    void Step(int64_t now);
    void Begin(Call call, int64_t now);
    Call NextCall(int64_t now) const;
    int64_t NextDue(int64_t now) const;
    bool DeliverShutdown(int64_t end);

    HttpPost post_;
    char requests_[kCalls][kHttpRequestSize] = {};
    int lengths_[kCalls] = {};
    int port_ = 0;
    Call inFlight_ = kNoCall;   // the exchange open on post_
    int64_t abandonAt_ = 0;     // of the exchange in flight
    bool readyWanted_ = false;  // the first frame of the process has run
    bool readyDone_ = false;    // the sidecar answered /ready with a 2xx
    bool readyFirst_ = false;   // a /health failed: a due /ready goes once before the next
    bool stopped_ = false;      // Stopping has run
    int64_t readyAt_ = 0;       // the next attempt at /ready
    int64_t healthAt_ = 0;      // the next /health
    int64_t due_ = kNever;      // when FrameDone next has work
};

bool AgonesSdk::Open(int port)
{
    port_ = port;
    for (int call = 0; call < kCalls; ++call) {
        lengths_[call] = Http_FormatJsonPost(requests_[call], port, kPaths[call]);
        if (lengths_[call] < 0)
            return false;
    }
    return true;
}

// Only the first start asks for /ready; health pings begin with it.
void AgonesSdk::Started(int64_t now)
{
    if (readyWanted_ || stopped_)
        return;
    readyWanted_ = true;
    readyAt_ = now;
    healthAt_ = now;
    due_ = now;
}

// Moves the exchange in flight on, and starts the next one that is due.
void AgonesSdk::Step(int64_t now)
{
    if (inFlight_ != kNoCall) {
        HttpProgress progress = post_.Advance();
        if (progress == HttpProgress::kPending && now < abandonAt_) {
            due_ = Earliest(now + kRecheck, abandonAt_);
            return;
        }
        post_.Close();
        if (inFlight_ == kReady && progress == HttpProgress::kSucceeded)
            readyDone_ = true;
        if (inFlight_ == kHealth)
            readyFirst_ = progress != HttpProgress::kSucceeded;
        inFlight_ = kNoCall;
    }
    Call next = NextCall(now);
    if (next != kNoCall)
        Begin(next, now);
    due_ = NextDue(now);
}

// The next attempt is scheduled from the start of this one, whatever its
// outcome, so pings keep their spacing and a refused /ready is retried.
void AgonesSdk::Begin(Call call, int64_t now)
{
    if (call == kReady) {
        readyAt_ = now + kReadyRetry;
        readyFirst_ = false;
    } else {
        healthAt_ = now + kAgonesHealthInterval;
    }
    if (post_.Begin(port_, requests_[call], lengths_[call])) {
        inFlight_ = call;
        abandonAt_ = now + kAnswerTimeout;
    } else if (call == kHealth) {
        readyFirst_ = true;
    }
}

// /health first whenever it is due, since Agones marks a server Unhealthy
// without it: a /ready that is never answered holds it up by one exchange
// at most. Only after a failed /health does a due /ready go first, once, so
// that a sidecar stuck on /health still hears /ready.
Call AgonesSdk::NextCall(int64_t now) const
{
    bool ready = readyWanted_ && !readyDone_ && now >= readyAt_;
    if (now >= healthAt_ && !(readyFirst_ && ready))
        return kHealth;
    return ready ? kReady : kNoCall;
}

int64_t AgonesSdk::NextDue(int64_t now) const
{
    if (inFlight_ != kNoCall)
        return Earliest(now + kRecheck, abandonAt_);
    return Earliest(healthAt_, readyWanted_ && !readyDone_ ? readyAt_ : kNever);
}

// Gives up whatever was in flight and spends at most kAgonesShutdownBudget on
// /shutdown, trying again after a growing pause while the sidecar refuses
// or answers with a failure.
void AgonesSdk::Stopping(int64_t now)
{
    if (stopped_)
        return;
    stopped_ = true;
    post_.Close();
    inFlight_ = kNoCall;
    due_ = kNever;
    int64_t end = now + kAgonesShutdownBudget;
    for (int pause = kShutdownRetryMilliseconds; !DeliverShutdown(end); pause *= 2) {
        // No attempt is begun that the budget would cut off at once.
        if (end - Clock_Microseconds() <= int64_t{pause} * 1000)
            return;
        poll(nullptr, 0, pause);
    }
}

// One attempt at /shutdown, waiting for the answer until end at most.
bool AgonesSdk::DeliverShutdown(int64_t end)
{
    if (!post_.Begin(port_, requests_[kShutdown], lengths_[kShutdown]))
        return false;
    for (;;) {
        HttpProgress progress = post_.Advance();
        if (progress != HttpProgress::kPending)
            return progress == HttpProgress::kSucceeded;
        int64_t left = end - Clock_Microseconds();
        if (left <= 0) {
            post_.Close();
            return false;
        }
        pollfd wait{post_.Descriptor(), post_.Awaited(), 0};
        poll(&wait, 1, static_cast<int>(left / 1000 + 1));
    }
}

AgonesSdk s_sdk;

}  // namespace

ISupervisor* Agones_OpenSupervisor()
{
    const char* value = std::getenv("AGONES_SDK_HTTP_PORT");
    if (!value || !*value)
        return nullptr;
    int port = Address_ParsePort(value);
    if (port == 0) {
        Sys_Printf("Warning: AGONES_SDK_HTTP_PORT is not a port (%.*s)\n", kShownValue, value);
        return nullptr;
    }
    return s_sdk.Open(port) ? &s_sdk : nullptr;
}
