#include "control_clients.h"

#include "common/clock.h"
#include "control_client.h"
#include "monotonic.h"
#include "service/listener.h"
#include "service/listeners/control_socket.h"
#include "service/service.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

const char kTooMany[] = "Refused: too many clients.\n";
// strace slows the launcher's start by far the most.
constexpr int kAttachMilliseconds = 20000;
constexpr int kSharedSize = 4096;
constexpr long kPacedCalls = 3000;
constexpr long kPaceNanoseconds = 1000000;
// Longer than the poll interval and a tick of the coarse clock together,
// so that the next frame after it polls.
constexpr long kPollGapNanoseconds = 15000000;

typedef int Connections[kMaxControlClients];

// A stream socket connected to path, or -1 while nothing listens there.
int ConnectTo(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    close(fd);
    return -1;
}

void CloseAll(Connections& fds)
{
    for (int& fd : fds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

// Every connection the launcher admits, the first one tried until the
// socket takes it; the launcher accepts them at its next poll.
bool ConnectAll(const std::string& path, Connections& fds, int timeoutMilliseconds)
{
    std::fill(std::begin(fds), std::end(fds), -1);
    WaitUntil([&] { return (fds[0] = ConnectTo(path)) >= 0; }, timeoutMilliseconds, 1);
    for (int i = 1; i < kMaxControlClients && fds[0] >= 0; ++i)
        fds[i] = ConnectTo(path);
    if (std::all_of(std::begin(fds), std::end(fds), [](int fd) { return fd >= 0; }))
        return true;
    CloseAll(fds);
    return false;
}

// The launcher accepts in the order of connection: a ninth that is refused
// as one too many shows that the ones before it are all attached. pump()
// runs the frame loop's side where that loop is this process's own.
bool NinthRefused(const std::string& path, const std::function<void()>& pump, int timeoutMilliseconds)
{
    ControlClient ninth(path);
    long long start = MonotonicNanoseconds();
    while (ninth.Connected() && MillisecondsSince(start) < timeoutMilliseconds) {
        pump();
        if (ninth.ReadUntil(kTooMany, 1))
            return true;
    }
    return false;
}

// Reads every connection until the launcher closes it, counting the bytes
// of each and noting the engine's frame at each close; returns when the
// first was closed.
long long ReadUntilClosed(Connections& fds, long long (&bytes)[kMaxControlClients],
                          long (&closedAt)[kMaxControlClients], const volatile long* engineFrame)
{
    static char buffer[65536];
    long long firstClose = 0;
    for (int open = kMaxControlClients; open > 0;) {
        pollfd polled[kMaxControlClients];
        for (int i = 0; i < kMaxControlClients; ++i)
            polled[i] = pollfd{fds[i], POLLIN, 0};
        if (poll(polled, kMaxControlClients, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < kMaxControlClients; ++i) {
            if (fds[i] < 0 || polled[i].revents == 0)
                continue;
            ssize_t got = recv(fds[i], buffer, sizeof(buffer), 0);
            if (got > 0) {
                bytes[i] += got;
            } else if (got == 0 || errno != EINTR) {
                closedAt[i] = *engineFrame;
                firstClose = firstClose > 0 ? firstClose : MonotonicNanoseconds();
                close(fds[i]);
                fds[i] = -1;
                --open;
            }
        }
    }
    CloseAll(fds);
    return firstClose;
}

// What the run loop calls in every frame of the service.
void FrameCalls()
{
    Service_FrameDone();
    Service_NextLine();
}

// The clock the service reads in every frame once something is open.
volatile int64_t s_clockRead = 0;
void ClockRead()
{
    s_clockRead = Clock_CoarseMicroseconds();
}

void SleepNanoseconds(long nanoseconds)
{
    timespec pause{nanoseconds / 1000000000, nanoseconds % 1000000000};
    nanosleep(&pause, nullptr);
}

struct PacedFigures {
    double mean = 0;           // of every call
    double quiet = 0;          // median of the calls that did not poll
    double polling = 0;        // median of those that did
    double pollIntervalMs = 0;
    long polls = 0;
};

double Median(std::vector<long long>& values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return static_cast<double>(values[values.size() / 2]);
}

// Each call timed alone, 1 ms apart. The calls that poll are told by the
// service's own rule, on the coarse clock read just before the call: a gap
// makes the first one poll, and the next is due kListenerPollInterval
// after it. Medians, because a call now and then loses the processor.
PacedFigures Paced(bool socketOpen)
{
    std::vector<long long> quiet, polling;
    quiet.reserve(kPacedCalls);
    polling.reserve(kPacedCalls);
    SleepNanoseconds(kPollGapNanoseconds);
    int64_t nextPoll = 0;
    long long total = 0, begin = MonotonicNanoseconds();
    for (long i = 0; i < kPacedCalls; ++i) {
        int64_t coarse = Clock_CoarseMicroseconds();
        long long start = MonotonicNanoseconds();
        FrameCalls();
        long long took = MonotonicNanoseconds() - start;
        total += took;
        bool polled = socketOpen && coarse >= nextPoll;
        nextPoll = polled ? coarse + kListenerPollInterval : nextPoll;
        (polled ? polling : quiet).push_back(took);
        SleepNanoseconds(kPaceNanoseconds);
    }
    PacedFigures figures;
    figures.mean = static_cast<double>(total) / kPacedCalls;
    figures.polls = static_cast<long>(polling.size());
    figures.quiet = Median(quiet);
    figures.polling = Median(polling);
    if (figures.polls > 0)
        figures.pollIntervalMs = (MonotonicNanoseconds() - begin) / 1e6 / figures.polls;
    return figures;
}

// A zeroed file of kSharedSize bytes at path for the engine's BENCH_SHM,
// mapped here; MAP_FAILED when it cannot be.
void* SharedFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    void* mapped = fd >= 0 && ftruncate(fd, kSharedSize) == 0
                       ? mmap(nullptr, kSharedSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    if (fd >= 0)
        close(fd);
    return mapped;
}

}  // namespace

// The launcher without the socket gets a frame count of its own too, so
// that the two engines do the same work.
IdleConsoles::IdleConsoles()
{
    char pattern[] = "/tmp/tarn-bench-control-XXXXXX";
    directory_ = mkdtemp(pattern) ? pattern : "/tmp";
    void* unwatched = SharedFile(directory_ + "/frame-unwatched");
    if (unwatched != MAP_FAILED)
        munmap(unwatched, kSharedSize);
    void* mapped = SharedFile(directory_ + "/frame");
    static volatile long unshared = 0;
    shared_ = mapped == MAP_FAILED ? nullptr : mapped;
    engineFrame_ = shared_ ? static_cast<volatile long*>(shared_) : &unshared;
}

IdleConsoles::~IdleConsoles()
{
    if (shared_)
        munmap(shared_, kSharedSize);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

LaunchSetup IdleConsoles::With(LaunchSetup setup, long warmup) const
{
    setup.arguments.push_back("-controlsocket");
    setup.arguments.push_back(directory_ + "/control");
    setup.environment.push_back({"BENCH_SHM", directory_ + "/frame"});
    setup.environment.push_back({"BENCH_WARMUP", std::to_string(warmup)});
    return setup;
}

LaunchSetup IdleConsoles::Without(LaunchSetup setup, long warmup) const
{
    setup.environment.push_back({"BENCH_SHM", directory_ + "/frame-unwatched"});
    setup.environment.push_back({"BENCH_WARMUP", std::to_string(warmup)});
    return setup;
}

void IdleConsoles::Attend(long warmup, long frames)
{
    ++seen_.runs;
    seen_.lastMsPerFrame = 0;
    std::string path = File("control");
    Connections fds;
    if (!ConnectAll(path, fds, kAttachMilliseconds)) {
        ++seen_.unattached;
        return;
    }
    bool attached = NinthRefused(path, [] {}, kAttachMilliseconds);
    long attachedAt = *engineFrame_;
    long long attachTime = MonotonicNanoseconds();
    Received received;
    long long closeTime = ReadUntilClosed(fds, received.bytes, received.closedAt, engineFrame_);
    *engineFrame_ = 0;
    Note(attached, warmup - attachedAt, frames > 0 ? warmup + frames - 1 : 0, received);
    if (attached && closeTime > attachTime && received.closedAt[0] > attachedAt)
        seen_.lastMsPerFrame = (closeTime - attachTime) / 1e6 / (received.closedAt[0] - attachedAt);
}

void IdleConsoles::Note(bool attached, long margin, long lastFrame, const Received& received)
{
    seen_.unattached += attached ? 0 : 1;
    seen_.late += attached && margin <= 0 ? 1 : 0;
    bool firstAttached = seen_.runs - seen_.unattached == 1;
    if (attached)
        seen_.leastMargin = firstAttached ? margin : std::min(seen_.leastMargin, margin);
    for (int i = 0; i < kMaxControlClients; ++i) {
        seen_.closedEarly += received.closedAt[i] < lastFrame ? 1 : 0;
        long long bytes = received.bytes[i];
        seen_.leastBytes = seen_.leastBytes < 0 ? bytes : std::min(seen_.leastBytes, bytes);
        seen_.mostBytes = std::max(seen_.mostBytes, bytes);
    }
}

ControlHookCost MeasureControlHook()
{
    ControlHookCost cost;
    cost.clock = NanosecondsPerCall(ClockRead);
    cost.hotOff = NanosecondsPerCall(FrameCalls);
    PacedFigures off = Paced(false);
    cost.pacedOff = off.mean;
    cost.quietOff = off.quiet;
    char pattern[] = "/tmp/tarn-bench-hook-XXXXXX";
    if (!mkdtemp(pattern))
        return cost;
    std::string path = std::string(pattern) + "/control";
    Connections fds;
    if (Service_AddListener(Control_Open(path.c_str(), false)) && ConnectAll(path, fds, 1000)) {
        cost.attached = NinthRefused(path, FrameCalls, 5000);
        cost.hotOn = NanosecondsPerCall(FrameCalls);
        PacedFigures on = Paced(true);
        cost.pacedOn = on.mean;
        cost.quietOn = on.quiet;
        cost.pollingOn = on.polling;
        cost.polls = on.polls;
        cost.pollIntervalMs = on.pollIntervalMs;
        CloseAll(fds);
    }
    cost.pacedCalls = kPacedCalls;
    Service_Close();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return cost;
}
