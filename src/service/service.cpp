#include "service/service.h"

#include "common/clock.h"
#include "output/output.h"
#include "service/listener.h"
#include "service/supervisor.h"

namespace {

// systemd and Agones, with room to spare.
constexpr int kMaxSupervisors = 4;
ISupervisor* s_open[kMaxSupervisors] = {};
int s_count = 0;

// The listeners the command line asked for: a control socket, a metrics
// endpoint.
constexpr int kMaxListeners = 4;
IListener* s_listeners[kMaxListeners] = {};
int s_listenerCount = 0;
int64_t s_nextPoll = 0;

// One poll for every listener and peer, then each serves its own entries.
void PollListeners(int64_t now)
{
    pollfd polled[kMaxListeners * kMaxListenerDescriptors];
    int counts[kMaxListeners];
    int total = 0;
    for (int i = 0; i < s_listenerCount; ++i) {
        counts[i] = s_listeners[i]->Watch(polled + total);
        total += counts[i];
    }
    if (poll(polled, static_cast<nfds_t>(total), 0) < 0)
        return;
    for (int i = 0, first = 0; i < s_listenerCount; first += counts[i++])
        s_listeners[i]->Serve(polled + first, counts[i], now);
}

// Hands one event to every open supervisor, with one clock read for all.
void Tell(void (ISupervisor::*event)(int64_t))
{
    if (s_count == 0)
        return;
    int64_t now = Clock_Microseconds();
    for (int i = 0; i < s_count; ++i)
        (s_open[i]->*event)(now);
}

// Adds item to a list of fixed size; false when it is null or the list is
// full.
template <typename Item, int kSize>
bool Append(Item* (&list)[kSize], int& count, Item* item)
{
    if (!item || count == kSize)
        return false;
    list[count++] = item;
    return true;
}

}  // namespace

bool Service_AddSupervisor(ISupervisor* supervisor)
{
    return Append(s_open, s_count, supervisor);
}

void Service_Started()
{
    Tell(&ISupervisor::Started);
}

// One coarse clock read at most, and only when something is open.
void Service_FrameDone()
{
    Output_Flush();
    if (s_count == 0 && s_listenerCount == 0)
        return;
    int64_t now = Clock_CoarseMicroseconds();
    for (int i = 0; i < s_count; ++i)
        s_open[i]->FrameDone(now);
    if (s_listenerCount > 0 && now >= s_nextPoll) {
        s_nextPoll = now + kListenerPollInterval;
        PollListeners(now);
    }
}

const char* Service_NextLine()
{
    for (int i = 0; i < s_listenerCount; ++i)
        if (const char* line = s_listeners[i]->TakeLine())
            return line;
    return nullptr;
}

bool Service_AddListener(IListener* listener)
{
    return Append(s_listeners, s_listenerCount, listener);
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
    for (int i = 0; i < s_listenerCount; ++i)
        s_listeners[i]->Close();
    s_listenerCount = 0;
    Output_Drain();
}
