#include "terminal_signals.h"

#include "text_console_unix.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

// Everything below runs in signal handlers: async-signal-safe calls only.

namespace {

constexpr int kStdin = 0;
const int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                              SIGBUS,  SIGFPE,  SIGILL, SIGABRT};

CTextConsoleUnix* volatile s_console = nullptr;

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
    if (s_console->WantsRawMode())
        s_console->RestoreTerminal();
    RaiseWithDefaultAction(signalNumber);
}

void OnContinue(int)
{
    int savedErrno = errno;
    // A job continued in the background must leave the shell's settings be.
    if (s_console->WantsRawMode() && InForeground())
        s_console->ApplyRawMode();
    errno = savedErrno;
}

void OnStop(int signalNumber)
{
    int savedErrno = errno;
    if (s_console->WantsRawMode())
        s_console->RestoreTerminal();
    RaiseWithDefaultAction(signalNumber);  // the process stops here
    SetAction(signalNumber, OnStop);
    OnContinue(SIGCONT);
    errno = savedErrno;
}

void Guard(int signalNumber, void (*handler)(int))
{
    if (HasDefaultAction(signalNumber))
        SetAction(signalNumber, handler);
}

}  // namespace

void Terminal_GuardSignals(CTextConsoleUnix* console)
{
    s_console = console;
    for (int signalNumber : kEndingSignals)
        Guard(signalNumber, OnEndingSignal);
    Guard(SIGTSTP, OnStop);
    Guard(SIGCONT, OnContinue);
}
