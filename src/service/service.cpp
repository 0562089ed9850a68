#include "service.h"

#include "clock.h"
#include "output.h"
#include "supervisor.h"

#include <iterator>

namespace {

// Every supervisor the launcher speaks to; each opens only when the
// environment names it.
ISupervisor* (*const kSupervisorOpeners[])() = {
    Systemd_OpenSupervisor,
    Agones_OpenSupervisor,
};
constexpr int kMaxSupervisors = static_cast<int>(std::size(kSupervisorOpeners));

ISupervisor* s_open[kMaxSupervisors] = {};
int s_count = 0;

// Hands one event to every open supervisor, with one clock read for all.
void Tell(void (ISupervisor::*event)(int64_t), int64_t (*clock)() = Sys_MonotonicMicroseconds)
{
    if (s_count == 0)
        return;
    int64_t now = clock();
    for (int i = 0; i < s_count; ++i)
        (s_open[i]->*event)(now);
}

}  // namespace

void Service_Open()
{
    for (auto open : kSupervisorOpeners)
        if (ISupervisor* supervisor = open())
            s_open[s_count++] = supervisor;
}

void Service_Started()
{
    Tell(&ISupervisor::Started);
}

void Service_FrameDone()
{
    Output_Flush();
    Tell(&ISupervisor::FrameDone, Sys_CoarseMicroseconds);
}

void Service_Restarting()
{
    Tell(&ISupervisor::Restarting);
}

void Service_Stopping()
{
    Tell(&ISupervisor::Stopping);
}

void Service_Close()
{
    for (int i = 0; i < s_count; ++i)
        s_open[i]->Close();
    s_count = 0;
    Output_Drain();
}
