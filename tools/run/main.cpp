// tarn-run: keeps a server running without a service manager.
//
//   tarn-run [-d SERVER_DIRECTORY] [-w SECONDS] [-l COUNT/SECONDS] [LAUNCHER SWITCHES...]
//
// SECONDS is a whole number from 1 to 86400; anything else, or a value that
// starts with "-" (the next switch), ends tarn-run with the usage line and
// status 2.
//
// Runs tarn-launcher in the server directory (default: the current one) as
// its own child, in the same process group, so that the terminal's console
// and Ctrl-C and Ctrl-Z work as if the launcher had been started directly.
// A status of 0 (the engine quit), or an end by SIGTERM, SIGINT or SIGHUP
// (a stop, whoever sent it), ends tarn-run with it. Any other status, or
// death by another signal, starts the launcher again after a pause that
// doubles from 1 to 60 seconds and falls back to 1 after a run of 5
// minutes. SIGTERM, SIGINT and SIGHUP sent to tarn-run are passed on to
// the launcher, and tarn-run then ends with the launcher; a signal from the
// terminal already reached the launcher and is not passed on twice. The
// launcher gives the terminal's settings back itself; after a death by a
// signal, which may have left it no chance, tarn-run puts back the
// settings it found at its start.
//
// After a crash it names the launcher's newest crash report; COUNT crashes
// or failed starts (status 255, or a launcher that cannot be run) within
// SECONDS (-l, 5 within 60 by default) end the restarts, and tarn-run with
// status 1.
//
// With -w, the launcher gets a notify socket and a watchdog of tarn-run's
// own; when its pings stop for SECONDS, tarn-run ends it (see watchdog.h)
// and starts it again as after a crash.
//
// TARN_LAUNCHER names the launcher when it is not ./tarn-launcher.
#include "common/clock.h"
#include "common/limits.h"
#include "crash_loop.h"
#include "terminal.h"
#include "watchdog.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFirstPause = 1;
constexpr int kLongestPause = 60;
constexpr int kSettledSeconds = 300;
constexpr long kMaxWatchSeconds = 86400;
// Unusable arguments, or no watchdog socket: the launcher never ran.
constexpr int kExitRefused = 2;
constexpr int kExitCrashLoop = 1;
// The launcher's status when its start failed, and the child's when there
// was no launcher to run.
constexpr int kStartFailed = 255;
constexpr int kCannotRun = 127;
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t s_stopping = 0;
volatile pid_t s_child = 0;
bool s_handled[NSIG] = {};  // the stop signals that tarn-run took over
sigset_t s_waitMask;        // the mask while waiting: SIGCHLD let through

// A signal sent to tarn-run alone goes on to the launcher; one that the
// terminal sent to the whole process group reached the launcher already.
void OnStopSignal(int signalNumber, siginfo_t* info, void*)
{
    s_stopping = signalNumber;
    if (s_child > 0 && info->si_code != SI_KERNEL)
        kill(s_child, signalNumber);
}

// Only wakes the wait for the launcher's end.
void OnChild(int) {}

// An ignored stop signal (nohup's SIGHUP) stays ignored, for the launcher too.
void InstallHandlers()
{
    struct sigaction action {};
    action.sa_sigaction = OnStopSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kStopSignals) {
        struct sigaction current {};
        sigaction(signalNumber, nullptr, &current);
        s_handled[signalNumber] = current.sa_handler != SIG_IGN;
        if (s_handled[signalNumber])
            sigaction(signalNumber, &action, nullptr);
    }
    struct sigaction child {};
    child.sa_handler = OnChild;
    sigaction(SIGCHLD, &child, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGCHLD);
    sigprocmask(SIG_BLOCK, &blocked, &s_waitMask);
    sigdelset(&s_waitMask, SIGCHLD);
}

[[noreturn]] void ExecLauncher(const char* launcher, char** switches, const Watchdog* watchdog)
{
    std::vector<char*> argv{const_cast<char*>(launcher)};
    for (char** word = switches; *word; ++word)
        argv.push_back(*word);
    argv.push_back(nullptr);
    for (int signalNumber : kStopSignals)
        if (s_handled[signalNumber])
            signal(signalNumber, SIG_DFL);
    sigprocmask(SIG_SETMASK, &s_waitMask, nullptr);
    if (watchdog)
        watchdog->Export();
    execv(launcher, argv.data());
    std::printf("tarn-run: cannot start %s (%s)\n", launcher, std::strerror(errno));
    std::fflush(stdout);
    _exit(kCannotRun);
}

// Sleeps until the launcher ends, a signal arrives, the watchdog hears from
// the launcher or its next step is due.
void WaitForEvent(Watchdog* watchdog)
{
    pollfd socket{watchdog ? watchdog->Socket() : -1, POLLIN, 0};
    int64_t due = watchdog ? watchdog->Due() : -1;
    timespec timeout{};
    if (due >= 0) {
        int64_t left = std::max<int64_t>(0, due - Clock_Milliseconds());
        timeout.tv_sec = static_cast<time_t>(left / 1000);
        timeout.tv_nsec = static_cast<long>(left % 1000) * 1000000;
    }
    ppoll(&socket, watchdog ? 1 : 0, due >= 0 ? &timeout : nullptr, &s_waitMask);
    if (!watchdog)
        return;
    if (socket.revents & POLLIN)
        watchdog->Receive(Clock_Milliseconds());
    due = watchdog->Due();
    if (due >= 0 && Clock_Milliseconds() >= due)
        watchdog->Act(Clock_Milliseconds());
}

// Runs the launcher once; its wait status.
int RunOnce(const char* launcher, char** switches, Watchdog* watchdog)
{
    pid_t child = fork();
    if (child == 0)
        ExecLauncher(launcher, switches, watchdog);
    s_child = child;
    if (watchdog)
        watchdog->Watch(child);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) != child)
        WaitForEvent(watchdog);
    s_child = 0;
    return status;
}

// The shell's way of reporting a wait status: the exit status, or 128 and
// the signal number.
int ShellStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool StartFailed(int status)
{
    return WIFEXITED(status) && (WEXITSTATUS(status) == kStartFailed || WEXITSTATUS(status) == kCannotRun);
}

// A quit, or a stop asked for by a signal, whoever sent it.
bool EndedForGood(int status)
{
    if (status == 0 || s_stopping)
        return true;
    for (int signalNumber : kStopSignals)
        if (WIFSIGNALED(status) && WTERMSIG(status) == signalNumber)
            return true;
    return false;
}

void ReportEnd(int status, int pause)
{
    if (WIFSIGNALED(status))
        std::printf("tarn-run: the launcher was ended by signal %d; starting it again in %d s\n",
                    WTERMSIG(status), pause);
    else
        std::printf("tarn-run: the launcher ended with status %d; starting it again in %d s\n",
                    WEXITSTATUS(status), pause);
    std::fflush(stdout);
}

// Sleeps, but wakes for a stop signal.
void Pause(int seconds)
{
    timespec left{seconds, 0};
    while (!s_stopping && nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

// The whole of text as a number of seconds from 1 to kMaxWatchSeconds, or
// -1: no sign, no blanks, nothing after the digits.
int WatchSeconds(const char* text)
{
    if (!*text || std::strspn(text, "0123456789") != std::strlen(text))
        return -1;
    errno = 0;
    long seconds = std::strtol(text, nullptr, 10);
    return errno == 0 && seconds >= 1 && seconds <= kMaxWatchSeconds ? static_cast<int>(seconds) : -1;
}

void PrintUsage()
{
    std::printf("usage: tarn-run [-d SERVER_DIRECTORY] [-w SECONDS, 1 to %ld]"
                " [-l COUNT/SECONDS, 1 to %d / 1 to %d] [LAUNCHER SWITCHES...]\n",
                kMaxWatchSeconds, kMaxCrashCount, kMaxCrashSeconds);
}

// After a crash, names the newest crash report; true when the crash or
// failed start ends a loop. A loop of failed starts left no report to name.
bool CrashLoopEnds(CrashLimit& limit, bool crashed)
{
    CrashReports reports = CrashReports_Find();
    if (crashed && reports.newest[0])
        std::printf("tarn-run: crash report %s\n", reports.newest);
    if (crashed && reports.count >= kMaxErrorLogs)
        std::printf("tarn-run: errorlogs holds %d error logs, so crashes leave no more reports: clear it\n",
                    reports.count);
    bool ends = limit.Reached(Clock_Milliseconds(), !crashed);
    int failed = limit.FailedStarts();
    const char* what = failed == 0                ? "crashes"
                       : failed == limit.Count() ? "failed starts"
                                                 : "crashes and failed starts";
    bool named = failed < limit.Count() && reports.newest[0];
    if (ends)
        std::printf("tarn-run: %d %s within %d s: the launcher is not started again%s%s\n", limit.Count(), what,
                    limit.Seconds(), named ? "; the last report is " : "", named ? reports.newest : "");
    std::fflush(stdout);
    return ends;
}

// Takes "-d DIRECTORY", "-w SECONDS" and "-l COUNT/SECONDS" off the front
// of the arguments, in any order; the index of the first launcher switch, or
// -1 after a message. A switch of tarn-run's own without its value is
// refused, not passed on to the launcher; so is one followed by another
// switch, which is never a value ("-d -port 1" lost its directory).
int ReadOptions(int argc, char** argv, int& watchSeconds, CrashLimit& limit)
{
    int first = 1;
    for (; first < argc; first += 2) {
        const char* option = argv[first];
        bool directory = std::strcmp(option, "-d") == 0, watch = std::strcmp(option, "-w") == 0;
        if (!directory && !watch && std::strcmp(option, "-l") != 0)
            break;
        const char* value = first + 1 < argc && argv[first + 1][0] != '-' ? argv[first + 1] : nullptr;
        if (value && directory && chdir(value) != 0) {
            std::printf("tarn-run: no server directory %s\n", value);
            return -1;
        }
        bool usable = value && (directory || (watch ? (watchSeconds = WatchSeconds(value)) > 0
                                                    : limit.Parse(value)));
        if (value && !usable)
            std::printf("tarn-run: %s does not take %s\n", option, value);
        if (!usable) {
            PrintUsage();
            return -1;
        }
    }
    return first;
}

}  // namespace

int main(int argc, char** argv)
{
    int watchSeconds = 0;
    CrashLimit limit;
    int first = ReadOptions(argc, argv, watchSeconds, limit);
    if (first < 0)
        return kExitRefused;
    const char* launcher = std::getenv("TARN_LAUNCHER");
    if (!launcher || !*launcher)
        launcher = "./tarn-launcher";
    Watchdog watch;
    if (watchSeconds > 0 && !watch.Open(watchSeconds)) {
        std::printf("tarn-run: no socket for the watchdog (%s)\n", std::strerror(errno));
        return kExitRefused;
    }
    Watchdog* watchdog = watchSeconds > 0 ? &watch : nullptr;
    Terminal_Save();
    InstallHandlers();

    for (int pause = kFirstPause;;) {
        time_t started = time(nullptr);
        int status = RunOnce(launcher, argv + first, watchdog);
        if (WIFSIGNALED(status))
            Terminal_Restore();
        if (EndedForGood(status))
            return ShellStatus(status);
        if ((WIFSIGNALED(status) || StartFailed(status)) && CrashLoopEnds(limit, WIFSIGNALED(status)))
            return kExitCrashLoop;
        if (time(nullptr) - started >= kSettledSeconds)
            pause = kFirstPause;
        ReportEnd(status, pause);
        Pause(pause);
        if (s_stopping)
            return ShellStatus(status);
        pause = pause * 2 > kLongestPause ? kLongestPause : pause * 2;
    }
}
