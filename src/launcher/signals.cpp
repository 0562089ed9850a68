#include "launcher/signals.h"

#include "launcher/crash_report.h"
#include "launcher/launcher.h"
#include "launcher/trace.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

// The handlers run asynchronously: async-signal-safe calls only, on state
// prepared in advance (the console's saved settings, the stop request).

namespace {

constexpr int kStdin = 0;
constexpr int kSignalStatusBase = 128;
constexpr pid_t kNamespaceInit = 1;
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// The crash handlers' own stack. The kernel's signal frame with the widest
// x86 vector state takes a few KiB, glibc's SIGSTKSZ is 8 KiB on x86 and
// the handler itself needs little: 64 KiB leaves room for all of them.
constexpr size_t kCrashStackSize = 64 * 1024;
alignas(16) char s_crashStack[kCrashStackSize];

volatile std::sig_atomic_t s_stopSignal = 0;

void SetAction(int signalNumber, void (*handler)(int), int flags = SA_RESTART)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signalNumber, &action, nullptr);
}

bool HasDefaultAction(int signalNumber)
{
    struct sigaction current {};
    return sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
           !(current.sa_flags & SA_SIGINFO);
}

// Delivers the signal again with its default action, now and unblocked.
void RaiseWithDefaultAction(int signalNumber)
{
    SetAction(signalNumber, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, signalNumber);
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
    raise(signalNumber);
}

// Ends the process by the signal. A namespace's PID 1 is not delivered its
// own signal with the default action, so it exits with the status a shell
// would show instead; the exit also covers any other way the raise fails.
[[noreturn]] void EndBy(int signalNumber)
{
    if (getpid() != kNamespaceInit)
        RaiseWithDefaultAction(signalNumber);
    _exit(kSignalStatusBase + signalNumber);
}

bool InForeground()
{
    return tcgetpgrp(kStdin) == getpgrp();
}

void OnEndingSignal(int signalNumber)
{
    console.SuspendRawMode();
    EndBy(signalNumber);
}

// A crash, or a watchdog's SIGABRT for a hung frame: the terminal first,
// then the report, then the end by the same signal, as without a report.
void OnCrash(int signalNumber, siginfo_t* info, void*)
{
    console.SuspendRawMode();
    Crash_Report(signalNumber, info);
    EndBy(signalNumber);
}

// The first request is recorded for the run loop; a second one means the
// stop itself is stuck, and only the terminal is worth saving.
void OnStopRequest(int signalNumber)
{
    if (s_stopSignal)
        OnEndingSignal(signalNumber);
    s_stopSignal = signalNumber;
    Trace_StopSignal(signalNumber);
}

void OnContinue(int)
{
    int savedErrno = errno;
    // A job continued in the background must leave the shell's settings be.
    if (console.WantsRawMode() && InForeground())
        console.ResumeRawMode();
    errno = savedErrno;
}

void OnStop(int signalNumber)
{
    int savedErrno = errno;
    console.SuspendRawMode();
    RaiseWithDefaultAction(signalNumber);  // the process stops here
    SetAction(signalNumber, OnStop);
    OnContinue(SIGCONT);
    errno = savedErrno;
}

void OnBrokenPipe(int)
{
}

void Take(int signalNumber, void (*handler)(int), int flags = SA_RESTART)
{
    if (HasDefaultAction(signalNumber))
        SetAction(signalNumber, handler, flags);
}

// On the crash stack, with the signal's details for the report.
void TakeCrash(int signalNumber)
{
    if (!HasDefaultAction(signalNumber))
        return;
    struct sigaction action {};
    action.sa_sigaction = OnCrash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

// Without it, a crash handler would need the stack that overflowed.
void UseCrashStack()
{
    stack_t stack{};
    stack.ss_sp = s_crashStack;
    stack.ss_size = sizeof(s_crashStack);
    sigaltstack(&stack, nullptr);
}

}  // namespace

void Signals_Install()
{
    UseCrashStack();
    for (int signalNumber : kStopSignals)
        Take(signalNumber, OnStopRequest);
    for (int signalNumber : kCrashSignals)
        TakeCrash(signalNumber);
    Take(SIGQUIT, OnEndingSignal);
    Take(SIGTSTP, OnStop);
    Take(SIGCONT, OnContinue);
    Take(SIGPIPE, OnBrokenPipe);
}

int Signals_StopRequested()
{
    return s_stopSignal;
}

void Signals_EndByStopSignal()
{
    EndBy(s_stopSignal);
}
