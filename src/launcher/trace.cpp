#include "launcher/trace.h"

#include "common/diagnostics.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// A stop signal that arrives while the main flow writes an entry leaves its
// number here, and the main flow records it as soon as that entry is done,
// so that no entry is written by two at once; at any other time the handler
// records it itself, because an engine that hangs in a frame gives the main
// flow no later point before a watchdog's crash report.
volatile std::sig_atomic_t s_recording = 0;
volatile std::sig_atomic_t s_deferredSignal = 0;

const char* StopSignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal";
    }
}

void Record(const char* what, const char* detail)
{
    s_recording = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    _LogFunctionTrace(what, detail);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s_recording = 0;
}

}  // namespace

void Trace_Event(const char* what, const char* detail)
{
    Record(what, detail);
    if (int signalNumber = s_deferredSignal) {
        s_deferredSignal = 0;
        Record("stop signal ", StopSignalName(signalNumber));
    }
}

void Trace_Line(const char* what, const char* line)
{
    char command[64];
    size_t length = std::strcspn(line, " \t\r\n");
    length = length < sizeof(command) - 1 ? length : sizeof(command) - 1;
    std::memcpy(command, line, length);
    command[length] = '\0';
    Trace_Event(what, command);
}

void Trace_StopSignal(int signalNumber)
{
    if (s_recording)
        s_deferredSignal = signalNumber;
    else
        _LogFunctionTrace("stop signal ", StopSignalName(signalNumber));
}
