// Soak run of the real launcher under tarn-run on a pseudo-terminal, with
// everything at once for MINUTES (default 3) on a schedule drawn from SEED
// (printed; given, it repeats the run): a standard-output reader that is
// fast, slow and stalled in turn; 1 to 10 control clients, steady, slow or
// never reading, with bursts of lines and over-long ones; scrapes of the
// metrics endpoint every 100 ms and junk requests; engine restarts and
// crashes. Each check prints one line; the status is 1 when any fails.
//
//   tarn_soak [MINUTES [SEED]]
// TARN_SOAK_EMULATED=1 says that it runs under qemu; TARN_SOAK_KEEP=PATH
// keeps a copy of the server directory there, logs and all; TARN_SOAK_PORT
// is the metrics port.
#include "engine_log.h"
#include "monotonic.h"
#include "pty_job.h"
#include "schedule.h"
#include "scraper.h"
#include "soak_client.h"
#include "soak_operator.h"
#include "stdout_reader.h"
#include "verdicts.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kLineBytes = 60;
// Its own port for each build, so that the two soaks may run at once;
// TARN_SOAK_PORT chooses another, for a soak beside those.
int MetricsPort()
{
    const char* port = std::getenv("TARN_SOAK_PORT");
    return port != nullptr ? std::atoi(port) : sizeof(void*) == 4 ? 30191 : 30190;
}
constexpr long long kSettleMs = 2000;

struct Soak {
    Soak(const Schedule& plan, ServerDir& server, PtyJob& terminal)
        : schedule(plan), dir(server), job(terminal), reader(terminal, plan, kLineBytes)
    {
    }

    const Schedule& schedule;
    ServerDir& dir;
    PtyJob& job;
    StdoutReader reader;
    SoakOperator operatorClient{dir.Path()};
    Scraper scraper{MetricsPort()};
    SoakOutcome outcome;
    long long begin = MonotonicNanoseconds();
    pid_t launcher = -1;
    long long launcherSeenMs = 0;
    size_t nextClient = 0;
    size_t nextAct = 0;
    int clientIds = 0;

    long long Now() const { return MillisecondsSince(begin); }
};

pid_t ReadPid(const ServerDir& dir)
{
    std::ifstream file(dir.File("server.pid"));
    long pid = 0;
    return file >> pid ? static_cast<pid_t>(pid) : -1;
}

void Pause()
{
    timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
}

// A new launcher process after a crash; its memory is taken once settled.
void WatchLauncher(Soak& soak, long long now)
{
    pid_t pid = ReadPid(soak.dir);
    if (pid > 0 && pid != soak.launcher && !ProcessEnded(pid)) {
        soak.launcher = pid;
        soak.launcherSeenMs = now;
        soak.outcome.lastBaseline = {};
    }
    if (soak.outcome.lastBaseline.pid != soak.launcher && now >= soak.launcherSeenMs + kSettleMs) {
        soak.outcome.lastBaseline = Sample(soak.launcher, now);
        if (soak.outcome.lastBaseline.residentKilobytes < 0)
            soak.outcome.lastBaseline = {};  // it ended meanwhile
    }
}

void EngineActs(Soak& soak, long long now)
{
    soak.operatorClient.Step(now);
    if (!soak.operatorClient.Idle() || soak.nextAct >= soak.schedule.engine.size() ||
        soak.schedule.engine[soak.nextAct].atMs > now)
        return;
    bool crash = soak.schedule.engine[soak.nextAct++].act == EngineAct::kCrash;
    soak.outcome.crashesAsked += crash;
    soak.operatorClient.Ask(crash ? "crash" : "restart", now);
}

void Clients(Soak& soak, long long now)
{
    const auto& plans = soak.schedule.clients;
    for (; soak.nextClient < plans.size() && plans[soak.nextClient].joinMs <= now; ++soak.nextClient)
        soak.outcome.clients.push_back(
            std::make_unique<SoakClient>(soak.clientIds++, plans[soak.nextClient], soak.schedule.seed, kLineBytes));
    size_t count = soak.outcome.clients.size();
    for (size_t i = 0; i < count; ++i) {
        SoakClient& client = *soak.outcome.clients[i];
        bool wasDone = client.Done();
        client.Step(now, soak.dir.File("control.sock"), soak.launcher);
        // A client whose launcher ended comes back to the next one.
        if (!wasDone && client.EndedWithLauncher() && now < client.Plan().leaveMs) {
            ClientPlan again{now, client.Plan().leaveMs, client.Plan().kind};
            soak.outcome.clients.push_back(
                std::make_unique<SoakClient>(soak.clientIds++, again, soak.schedule.seed, kLineBytes));
        }
    }
}

bool AllClientsDone(const Soak& soak)
{
    for (const auto& client : soak.outcome.clients)
        if (!client->Done())
            return false;
    return true;
}

void RunSchedule(Soak& soak)
{
    long long last = soak.Now();
    for (long long now = last; now < soak.schedule.durationMs || !AllClientsDone(soak) || !soak.operatorClient.Idle(); now = soak.Now()) {
        if (now - last > soak.outcome.longestTurnMs) {
            soak.outcome.longestTurnMs = now - last;
            soak.outcome.longestTurnAtMs = last;
        }
        last = now;
        WatchLauncher(soak, now);
        EngineActs(soak, now);
        Clients(soak, now);
        soak.reader.Step(now);
        soak.scraper.Step(now);
        Pause();
    }
}

int CrashReports(const ServerDir& dir)
{
    int reports = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("errorlogs"), error))
        reports += dir.Read("errorlogs/" + entry.path().filename().string()).find("SIGSEGV") != std::string::npos;
    return reports;
}

// Every client gone: the descriptors must come back to the first count.
void Finish(Soak& soak)
{
    SoakOutcome& outcome = soak.outcome;
    WaitUntil([&] {
        soak.reader.Drain();
        outcome.end = Sample(soak.launcher, soak.Now());
        return outcome.end.descriptors == outcome.firstBaseline.descriptors;
    }, 3000);
    long long quitAt = soak.Now();
    soak.operatorClient.Ask("quit", quitAt);
    while (outcome.stopEvent.empty() && soak.Now() - quitAt < 10000) {
        soak.reader.Drain();
        soak.operatorClient.Step(soak.Now());
        outcome.stopEvent = soak.job.NextEvent(5);
    }
    soak.reader.Drain();
    outcome.stopMs = soak.Now() - quitAt;
    outcome.socketRemoved = !soak.dir.Exists("control.sock");
    outcome.stderrBytes = static_cast<long long>(soak.dir.Errors().size());
    outcome.crashReports = CrashReports(soak.dir);
    outcome.engine = EngineLog_Read(soak.dir.Log());
    outcome.stdoutFigures = soak.reader.Figures();
    outcome.scrapes = soak.scraper.Figures();
}

void PrintPlan(const Schedule& schedule, int minutes)
{
    int restarts = 0, crashes = 0, stalls = 0;
    for (const EnginePlan& act : schedule.engine)
        (act.act == EngineAct::kCrash ? crashes : restarts) += 1;
    for (const PaceSpan& span : schedule.paces)
        stalls += span.pace == ReaderPace::kStalled;
    std::printf("soak: seed %llu (SEED=%llu repeats this run), %d minutes: %zu clients, %d restarts, %d crashes, "
                "%d stalls of standard output\n",
                static_cast<unsigned long long>(schedule.seed), static_cast<unsigned long long>(schedule.seed),
                minutes, schedule.clients.size(), restarts, crashes, stalls);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    int minutes = argc > 1 ? std::atoi(argv[1]) : 3;
    uint64_t seed = argc > 2 && *argv[2] ? std::strtoull(argv[2], nullptr, 10) : std::random_device()();
    Schedule schedule = Schedule_Make(seed, minutes > 0 ? minutes : 3);
    PrintPlan(schedule, minutes);
    ServerDir dir;
    PtyOptions options;
    options.program = TARN_RUN_PATH;
    options.outputOnTerminal = true;
    options.columns = 200;
    options.environment = {{"TARN_LAUNCHER", TARN_LAUNCHER_PATH}, {"TARN_TEST_LINE_BYTES", std::to_string(kLineBytes)},
                           {"TARN_TEST_CODES", "0"}, {"TARN_TEST_CRASH", "11"}, {"TARN_TEST_QUIET", "1"},
                           {"TARN_TEST_SUBMIT_TIMES", "1"}};
    PtyJob job(dir, {"-l", "100/60", "-pidfile", "server.pid", "-controlsocket", "control.sock", "-metrics",
                     std::to_string(MetricsPort())}, options);
    Soak soak(schedule, dir, job);
    soak.outcome.emulated = std::getenv("TARN_SOAK_EMULATED") != nullptr;
    bool started = job.WaitRaw(30000) && WaitUntil([&] {
        soak.reader.Drain();
        return dir.Exists("control.sock") && ReadPid(dir) > 0;
    }, 30000);
    if (!started) {
        std::printf("FAIL start: the launcher did not start under tarn-run\n");
        return 1;
    }
    WaitUntil([&] { soak.reader.Drain(); return false; }, 500);
    soak.launcher = ReadPid(dir);
    soak.outcome.firstBaseline = Sample(soak.launcher, 0);
    soak.begin = MonotonicNanoseconds();
    RunSchedule(soak);
    Finish(soak);
    int failed = Verdicts_Print(soak.outcome);
    if (const char* keep = std::getenv("TARN_SOAK_KEEP"))
        std::system(("cp -r '" + dir.Path() + "' '" + keep + "'").c_str());
    std::printf("soak: %s (seed %llu)\n", failed == 0 ? "every check passed" : "FAILED",
                static_cast<unsigned long long>(seed));
    return failed == 0 ? 0 : 1;
}
