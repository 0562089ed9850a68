#include "signals.h"

#include "launcher.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

// The handlers run asynchronously: async-signal-safe calls only, on the
// console's settings that Init prepared.

namespace {

constexpr int kStdin = 0;
const int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                              SIGBUS,  SIGFPE,  SIGILL, SIGABRT};

void SetAction(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
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

bool InForeground()
{
    return tcgetpgrp(kStdin) == getpgrp();
}

void OnEndingSignal(int signalNumber)
{
    console.SuspendRawMode();
    RaiseWithDefaultAction(signalNumber);
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

void Take(int signalNumber, void (*handler)(int))
{
    if (HasDefaultAction(signalNumber))
        SetAction(signalNumber, handler);
}

}  // namespace

void Sys_InstallSignals()
{
    for (int signalNumber : kEndingSignals)
        Take(signalNumber, OnEndingSignal);
    Take(SIGTSTP, OnStop);
    Take(SIGCONT, OnContinue);
}
