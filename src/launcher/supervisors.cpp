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

// Hands one event to every open supervisor, with one clock read for all.
void Tell(void (ISupervisor::*event)(int64_t))
{
    if (s_count == 0)
        return;
    int64_t now = Sys_MonotonicMicroseconds();
    for (int i = 0; i < s_count; ++i)
        (s_supervisors[i]->*event)(now);
}

}  // namespace

int64_t Sys_MonotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
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

void Supervisors_FrameDone()
{
    Tell(&ISupervisor::FrameDone);
}

void Supervisors_Restarting()
{
    Tell(&ISupervisor::Restarting);
}

void Supervisors_Stopping()
{
    Tell(&ISupervisor::Stopping);
}
