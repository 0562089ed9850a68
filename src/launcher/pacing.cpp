#include "launcher/pacing.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

SleepFunction Sys_Sleep = nullptr;
NetSleepFunction NET_Sleep = nullptr;

namespace {

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr int kMillisecondsPerSecond = 1000;
constexpr int kRearmMicroseconds = 1000;
constexpr unsigned long kTimerSlackNanoseconds = 1;

// Written only by the main flow: clear from just before a timer sleep arms
// its timer until the wait has ended, set between timer sleeps. The SIGALRM
// handler reads it each time it runs.
volatile std::sig_atomic_t paused = 0;

// Arms the real-time timer once (no interval); true when it was armed.
bool ArmTimer(long seconds, long microseconds)
{
    itimerval timer{};
    timer.it_value.tv_sec = seconds;
    timer.it_value.tv_usec = microseconds;
    return setitimer(ITIMER_REAL, &timer, nullptr) == 0;
}

}  // namespace

void Sys_Sleep_Old(int milliseconds)
{
    usleep(milliseconds * kMicrosecondsPerMillisecond);
}

void Sys_Sleep_Timer(int milliseconds)
{
    // A zero timer value disarms the timer and nothing would end the wait.
    if (milliseconds <= 0)
        milliseconds = 1;
    paused = 0;
    if (ArmTimer(milliseconds / kMillisecondsPerSecond,
                 (milliseconds % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond))
        pause();
    paused = 1;
}

void Sys_Sleep_Select(int milliseconds)
{
    timeval timeout{0, milliseconds * kMicrosecondsPerMillisecond};
    select(1, nullptr, nullptr, nullptr, &timeout);
}

// Kept for compatibility: whatever the network sleep returns, a frame
// follows, so any datagram wakes the engine, as engines expect of it.
void Sys_Sleep_Net(int milliseconds)
{
    if (NET_Sleep)
        NET_Sleep();
    else
        Sys_Sleep_Old(milliseconds);
}

// Async-signal-safe: calls only signal and setitimer.
// While a timer sleep waits, every alarm re-arms a 1 ms one-shot, so an
// alarm that came between arming and pause is followed by one that ends it.
void alarmFunc(int)
{
    signal(SIGALRM, alarmFunc);
    if (!paused)
        ArmTimer(0, kRearmMicroseconds);
}

void Pacing_Choose(long pingboost, NetSleepFunction engineNetSleep)
{
    // The kernel lets a sleep end up to 50 µs late by default, most of the
    // gap between 1 ms pacing and 1000 frames per second; the launcher asks
    // for the least. A failure only leaves the default.
    prctl(PR_SET_TIMERSLACK, kTimerSlackNanoseconds);
    switch (pingboost) {
    case 1:
        signal(SIGALRM, alarmFunc);
        Sys_Sleep = Sys_Sleep_Timer;
        break;
    case 2:
        Sys_Sleep = Sys_Sleep_Select;
        break;
    case 3:
        Sys_Sleep = Sys_Sleep_Net;
        Pacing_SetEngineNetSleep(engineNetSleep);
        break;
    default:
        Sys_Sleep = Sys_Sleep_Old;
        break;
    }
}

void Pacing_SetEngineNetSleep(NetSleepFunction engineNetSleep)
{
    NET_Sleep = Sys_Sleep == Sys_Sleep_Net ? engineNetSleep : nullptr;
}
