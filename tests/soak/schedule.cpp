#include "schedule.h"

#include <algorithm>
#include <random>

namespace {

constexpr int kMostClients = 10;
// The last seconds are quiet, so that every reader can catch up.
constexpr long long kQuietEndMs = 3000;
// tarn-run waits 1, 2, 4... seconds before each restart after a crash:
// few crashes, spaced, and all in the first 60% so that the last launcher
// process lives long enough for its memory to mean something.
constexpr int kMostCrashes = 3;
constexpr long long kCrashSpacingMs = 15000;

long long Between(std::mt19937_64& random, long long low, long long high)
{
    return std::uniform_int_distribution<long long>(low, high)(random);
}

// Fast, slow, then stalled, over and over; fast at the end.
std::vector<PaceSpan> Paces(std::mt19937_64& random, long long busyMs, long long durationMs)
{
    std::vector<PaceSpan> paces;
    const ReaderPace cycle[] = {ReaderPace::kFast, ReaderPace::kSlow, ReaderPace::kStalled};
    long long at = 0;
    for (int i = 0; at < busyMs; ++i) {
        ReaderPace pace = cycle[i % 3];
        at = std::min(busyMs, at + (pace == ReaderPace::kStalled ? Between(random, 2000, 6000)
                                                                   : Between(random, 1000, 5000)));
        paces.push_back({at, pace});
    }
    paces.push_back({durationMs, ReaderPace::kFast});
    return paces;
}

// One steady client for the whole run, and others joining while fewer
// than ten are there.
std::vector<ClientPlan> Clients(std::mt19937_64& random, long long busyMs)
{
    std::vector<ClientPlan> clients = {{0, busyMs, ClientKind::kSteady}};
    for (long long at = Between(random, 200, 2000); at < busyMs; at += Between(random, 300, 3000)) {
        long long present = std::count_if(clients.begin(), clients.end(),
                                          [at](const ClientPlan& plan) { return plan.leaveMs > at; });
        if (present >= kMostClients)
            continue;
        auto kind = static_cast<ClientKind>(Between(random, 0, 2));
        clients.push_back({at, std::min(busyMs, at + Between(random, 2000, 40000)), kind});
    }
    return clients;
}

std::vector<EnginePlan> Engine(std::mt19937_64& random, long long busyMs)
{
    std::vector<EnginePlan> engine;
    for (long long at = Between(random, 5000, 15000); at < busyMs; at += Between(random, 8000, 30000))
        engine.push_back({at, EngineAct::kRestart});
    long long crashesEnd = busyMs * 6 / 10;
    int crashes = 0;
    for (long long at = Between(random, 3000, 10000); at < crashesEnd && crashes < kMostCrashes;
         at += kCrashSpacingMs + Between(random, 0, 20000), ++crashes)
        engine.push_back({at, EngineAct::kCrash});
    std::sort(engine.begin(), engine.end(),
              [](const EnginePlan& a, const EnginePlan& b) { return a.atMs < b.atMs; });
    return engine;
}

}  // namespace

Schedule Schedule_Make(uint64_t seed, int minutes)
{
    std::mt19937_64 random(seed);
    Schedule schedule;
    schedule.seed = seed;
    schedule.durationMs = minutes * 60000LL;
    long long busyMs = schedule.durationMs - kQuietEndMs;
    schedule.paces = Paces(random, busyMs, schedule.durationMs);
    schedule.clients = Clients(random, busyMs);
    schedule.engine = Engine(random, busyMs);
    return schedule;
}

const char* Schedule_PaceName(ReaderPace pace)
{
    switch (pace) {
    case ReaderPace::kFast:
        return "fast";
    case ReaderPace::kSlow:
        return "slow";
    case ReaderPace::kStalled:
        return "stalled";
    }
    return "?";
}

const char* Schedule_KindName(ClientKind kind)
{
    switch (kind) {
    case ClientKind::kSteady:
        return "steady";
    case ClientKind::kMute:
        return "never reading";
    case ClientKind::kSlow:
        return "slow";
    }
    return "?";
}
