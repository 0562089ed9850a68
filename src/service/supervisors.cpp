#include "supervisor.h"

#include <time.h>

namespace {

// Every protocol the launcher speaks; each entry is null unless the
// environment named that supervisor when the process started.
constexpr int kMaxSupervisors = 2;
ISupervisor* s_supervisors[kMaxSupervisors] = {};
int s_count = 0;

void Add(ISupervisor* supervisor)
{
    if (supervisor && s_count < kMaxSupervisors)
        s_supervisors[s_count++] = supervisor;
}

int64_t Microseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Hands one event to every open supervisor, with one clock read for all.
void Tell(void (ISupervisor::*event)(int64_t), clockid_t clock = CLOCK_MONOTONIC)
{
    if (s_count == 0)
        return;
    int64_t now = Microseconds(clock);
    for (int i = 0; i < s_count; ++i)
        (s_supervisors[i]->*event)(now);
}

}  // namespace

int64_t Sys_MonotonicMicroseconds()
{
    return Microseconds(CLOCK_MONOTONIC);
}

void Supervisors_Open()
{
    Add(Systemd_OpenSupervisor());
    Add(Agones_OpenSupervisor());
}

void Supervisors_Started()
{
    Tell(&ISupervisor::Started);
}

// Every frame: the coarse clock, which the kernel keeps for the taking,
// costs a third of the precise one and is exact to a scheduler tick, far
// finer than any due time here.
void Supervisors_FrameDone()
{
    Tell(&ISupervisor::FrameDone, CLOCK_MONOTONIC_COARSE);
}

void Supervisors_Restarting()
{
    Tell(&ISupervisor::Restarting);
}

void Supervisors_Stopping()
{
    Tell(&ISupervisor::Stopping);
}
