// Frame pacing: how the run loop gives up the processor before each frame.
#ifndef TARN_LAUNCHER_PACING_H
#define TARN_LAUNCHER_PACING_H

#include <tarn/engine_api.h>

typedef void (*SleepFunction)(int milliseconds);

// The active strategy; set by main before the run loop starts.
extern SleepFunction Sys_Sleep;
// The engine's network sleep; null unless strategy 3 was given one.
extern NetSleepFunction NET_Sleep;

// usleep for the delay.
void Sys_Sleep_Old(int milliseconds);
// A one-shot real-time interval timer, then pause until a signal arrives.
void Sys_Sleep_Timer(int milliseconds);
// select without descriptors, the delay as its timeout (below one second).
void Sys_Sleep_Select(int milliseconds);
// The engine's NET_Sleep_Timeout when it has one, otherwise as Sys_Sleep_Old.
void Sys_Sleep_Net(int milliseconds);

// SIGALRM handler of the interval-timer strategy.
void alarmFunc(int signalNumber);

// Chooses the strategy for a -pingboost value: 1 interval timer (installs
// alarmFunc), 2 select, 3 the engine's network sleep engineNetSleep (may be
// null), anything else plain sleep. Sets the process's timer slack to 1 ns.
void Pacing_Choose(long pingboost, NetSleepFunction engineNetSleep);

// The engine module was loaded again or unloaded: strategy 3 takes the
// network sleep of the new image, or null; the others ignore it.
void Pacing_SetEngineNetSleep(NetSleepFunction engineNetSleep);

#endif
