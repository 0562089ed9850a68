#ifndef TARN_TESTS_SOAK_SCHEDULE_H
#define TARN_TESTS_SOAK_SCHEDULE_H

// The soak's plan, drawn from one seed so that a run can be repeated: how
// the standard-output reader reads, which control clients come and go, and
// when the engine restarts or crashes. Times are in milliseconds from the
// start of the run.

#include <cstdint>
#include <vector>

enum class ReaderPace { kFast, kSlow, kStalled };
enum class ClientKind { kSteady, kMute, kSlow };
enum class EngineAct { kRestart, kCrash };

struct PaceSpan {
    long long untilMs;
    ReaderPace pace;
};

struct ClientPlan {
    long long joinMs;
    long long leaveMs;
    ClientKind kind;
};

struct EnginePlan {
    long long atMs;
    EngineAct act;
};

struct Schedule {
    uint64_t seed = 0;
    long long durationMs = 0;
    std::vector<PaceSpan> paces;       // in order, the last one fast
    std::vector<ClientPlan> clients;   // by join time, 1 to 10 at once
    std::vector<EnginePlan> engine;    // by time
};

Schedule Schedule_Make(uint64_t seed, int minutes);

const char* Schedule_PaceName(ReaderPace pace);
const char* Schedule_KindName(ClientKind kind);

#endif
