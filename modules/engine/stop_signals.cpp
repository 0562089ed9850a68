#include "stop_signals.h"

#include <csignal>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM};
constexpr int kStopSignalCount = sizeof(kStopSignals) / sizeof(kStopSignals[0]);

volatile std::sig_atomic_t s_received = 0;
volatile std::sig_atomic_t s_handedOn = 0;
bool s_installed = false;
struct sigaction s_previous[kStopSignalCount];

void PutBackPrevious()
{
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &s_previous[i], nullptr);
}

// Async-signal-safe. The first signal asks the next frame to stop. A second
// one means the frames are not coming (a stuck frame): it goes to the
// previous handlers, which end the process as they would have without us.
void OnStopSignal(int number)
{
    if (s_received == 0) {
        s_received = number;
        return;
    }
    s_handedOn = 1;
    PutBackPrevious();
    raise(number);
}

bool IsHandler(const struct sigaction& action)
{
    return (action.sa_flags & SA_SIGINFO) ||
           (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
}

}  // namespace

void Sig_Install()
{
    Sig_Restore();
    s_received = 0;
    s_handedOn = 0;
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the network wait ends at once and the frame stops.
    action.sa_flags = 0;
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &action, &s_previous[i]);
    s_installed = true;
}

void Sig_Restore()
{
    if (!s_installed)
        return;
    PutBackPrevious();
    s_installed = false;
}

void Sig_HandOn()
{
    for (int i = 0; i < kStopSignalCount; ++i)
        if (kStopSignals[i] == s_received && !s_handedOn && IsHandler(s_previous[i])) {
            s_handedOn = 1;
            raise(s_received);
        }
}

int Sig_Received()
{
    return s_received;
}

const char* Sig_Name(int number)
{
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "a signal";
}
