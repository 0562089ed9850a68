// A no-op engine module for the benchmarks: each frame only notes the time
// and, when asked, prints lines through the launcher.
// It runs BENCH_FRAMES frames (after BENCH_WARMUP unmeasured ones) and, at
// Shutdown, writes to BENCH_OUT one line of totals (the time spent printing
// among them) and then every measured frame interval in nanoseconds.
// Nothing is allocated per frame.
//   BENCH_NET_SLEEP  "socket" (default): NET_Sleep_Timeout waits up to 1 ms
//                    on a UDP socket, as a network engine does; "none":
//                    returns at once
//   BENCH_SHM        a file of at least 4096 bytes; the engine keeps its
//                    frame count and the frame of the last typed line there
//   BENCH_PRINT_LINES  lines each frame prints through the launcher's
//                    Sys_Printf (default 0), as a chatty engine's log does
//   BENCH_PRINT_LENGTH  bytes of each such line with its "\n" (default 100,
//                    at most kMaxLineLength)
//   BENCH_HITCH      "MS,EVERY": every EVERY-th frame takes MS longer
#include "stats.h"

#include <tarn/dedicated_exports.h>
#include <tarn/engine_api.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

typedef long (*AllocCount)();

// The launcher prints at most 1023 characters of one text.
constexpr long kMaxLineLength = 1023;

struct Shared {
    volatile long frame;
    volatile long submittedAtFrame;
    volatile long submissions;
};

long EnvLong(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atol(value) : fallback;
}

long Allocations()
{
    static AllocCount count = reinterpret_cast<AllocCount>(dlsym(RTLD_DEFAULT, "tarn_alloc_count"));
    return count ? count() : -1;
}

int s_socket = -1;
bool s_waitOnSocket = true;
Shared* s_shared = nullptr;

// The printed line, made once: the frames only hand it over.
IDedicatedExports* s_exports = nullptr;
char s_line[kMaxLineLength + 1];
long s_printLines = 0;

// Fills s_line with length bytes, "\n" last, and finds the launcher's
// Sys_Printf; printing stays off without it.
void PreparePrinting(InterfaceFactory launcherFactory)
{
    s_printLines = EnvLong("BENCH_PRINT_LINES", 0);
    long length = EnvLong("BENCH_PRINT_LENGTH", 100);
    if (length < 1 || length > kMaxLineLength)
        length = 100;
    std::memset(s_line, 'x', sizeof(s_line));
    std::memcpy(s_line, "bench ", std::min<long>(length - 1, 6));
    s_line[length - 1] = '\n';
    s_line[length] = '\0';
    s_exports = launcherFactory ? static_cast<IDedicatedExports*>(
                                      launcherFactory(VENGINE_DEDICATEDEXPORTS_API_VERSION, nullptr))
                                : nullptr;
}

// Prints the frame's lines; returns the nanoseconds they took.
long long PrintLines()
{
    if (!s_exports || s_printLines == 0)
        return 0;
    long long start = MonotonicNanoseconds();
    for (long i = 0; i < s_printLines; ++i)
        s_exports->Sys_Printf(s_line);
    return MonotonicNanoseconds() - start;
}

class BenchEngine : public IServerEngineAPI {
public:
    bool Initialize(const char*, const char*, InterfaceFactory launcherFactory, InterfaceFactory) override
    {
        frames_ = EnvLong("BENCH_FRAMES", 1000);
        ReadHitch();
        warmup_ = EnvLong("BENCH_WARMUP", 100);
        intervals_.assign(frames_, 0);
        done_ = 0;
        last_ = 0;
        const char* netSleep = std::getenv("BENCH_NET_SLEEP");
        s_waitOnSocket = !netSleep || std::strcmp(netSleep, "none") != 0;
        OpenSocket();
        MapShared();
        PreparePrinting(launcherFactory);
        return true;
    }

    int Shutdown() override
    {
        WriteResults();
        if (s_socket >= 0)
            close(s_socket);
        s_socket = -1;
        return ENGINE_SHUTDOWN_QUIT;
    }

    bool RunFrame() override
    {
        long long now = MonotonicNanoseconds();
        if (s_shared)
            s_shared->frame = seen_;
        ++seen_;
        if (seen_ == warmup_) {
            startCpu_ = CpuMicroseconds();
            startAllocations_ = Allocations();
            start_ = now;
        } else if (seen_ > warmup_) {
            intervals_[done_++] = now - last_;
        }
        last_ = now;
        long long printing = PrintLines();
        if (seen_ >= warmup_ && done_ < frames_)
            printNanoseconds_ += printing;
        if (hitchEvery_ > 0 && seen_ % hitchEvery_ == 0) {
            timespec hitch{0, hitchNanoseconds_};
            nanosleep(&hitch, nullptr);
        }
        if (done_ < frames_)
            return true;
        endCpu_ = CpuMicroseconds();
        endAllocations_ = Allocations();
        end_ = now;
        return false;
    }

    void SubmitConsoleText(const char*) override
    {
        if (!s_shared)
            return;
        s_shared->submittedAtFrame = seen_;
        s_shared->submissions = s_shared->submissions + 1;
    }

private:
    void ReadHitch()
    {
        const char* hitch = std::getenv("BENCH_HITCH");
        long milliseconds = 0;
        if (!hitch || std::sscanf(hitch, "%ld,%ld", &milliseconds, &hitchEvery_) != 2)
            hitchEvery_ = 0;
        hitchNanoseconds_ = milliseconds * 1000000;
    }

    void OpenSocket()
    {
        s_socket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }

    void MapShared()
    {
        const char* path = std::getenv("BENCH_SHM");
        if (!path)
            return;
        int fd = open(path, O_RDWR);
        void* mapped = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        s_shared = mapped == MAP_FAILED ? nullptr : static_cast<Shared*>(mapped);
    }

    void WriteResults()
    {
        const char* path = std::getenv("BENCH_OUT");
        FILE* out = path ? std::fopen(path, "w") : nullptr;
        if (!out)
            return;
        std::fprintf(out, "frames %ld wall_ns %lld cpu_us %lld allocations %ld print_ns %lld\n", done_,
                     end_ - start_, endCpu_ - startCpu_,
                     startAllocations_ < 0 ? -1 : endAllocations_ - startAllocations_, printNanoseconds_);
        for (long i = 0; i < done_; ++i)
            std::fprintf(out, "%lld\n", intervals_[i]);
        std::fclose(out);
    }

    std::vector<long long> intervals_;
    long frames_ = 0, warmup_ = 0, done_ = 0, seen_ = 0;
    long long last_ = 0, start_ = 0, end_ = 0, startCpu_ = 0, endCpu_ = 0;
    long long printNanoseconds_ = 0;  // in the measured frames' printing
    long startAllocations_ = -1, endAllocations_ = -1;
    long hitchEvery_ = 0, hitchNanoseconds_ = 0;
};

BenchEngine s_engine;

}  // namespace

extern "C" __attribute__((visibility("default"))) IBaseInterface* CreateInterface(const char* name,
                                                                                  int* returnCode)
{
    bool found = std::strcmp(name, ENGINE_LAUNCHER_API_VERSION) == 0;
    if (returnCode)
        *returnCode = found ? IFACE_OK : IFACE_FAILED;
    return found ? &s_engine : nullptr;
}

// Waits up to 1 ms for a packet on the engine's socket, or returns at once.
extern "C" __attribute__((visibility("default"))) int NET_Sleep_Timeout()
{
    if (!s_waitOnSocket || s_socket < 0)
        return 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s_socket, &readable);
    timeval timeout{0, 1000};
    return select(s_socket + 1, &readable, nullptr, nullptr, &timeout);
}
