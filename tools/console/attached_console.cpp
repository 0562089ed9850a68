#include "attached_console.h"

#include "common/write_all.h"
#include "console/text_console_unix.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;
const int kEndingSignals[] = {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

termios s_saved;
termios s_raw;
volatile std::sig_atomic_t s_savedOk = 0;
volatile std::sig_atomic_t s_detach = 0;

void SetAction(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

void OnDetach(int)
{
    s_detach = 1;
}

// A signal that ends the tool: the terminal first, then the signal's own end.
void OnEnd(int signalNumber)
{
    if (s_savedOk)
        tcsetattr(kStdin, TCSANOW, &s_saved);
    SetAction(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void OnStop(int signalNumber)
{
    int savedErrno = errno;
    if (s_savedOk)
        tcsetattr(kStdin, TCSANOW, &s_saved);
    SetAction(signalNumber, SIG_DFL);
    raise(signalNumber);  // stops here until continued
    SetAction(signalNumber, OnStop);
    if (s_savedOk)
        tcsetattr(kStdin, TCSANOW, &s_raw);
    errno = savedErrno;
}

void WriteText(const char* text, int length)
{
    if (length == 0)
        Fd_WriteAll(kStdout, text, std::strlen(text));
    else if (length > 0)
        Fd_WriteAll(kStdout, text, static_cast<size_t>(length));
}

}  // namespace

bool AttachedConsole::Init(IBaseSystem* system)
{
    Prepare(system);
    return true;
}

void AttachedConsole::PrintRaw(const char* text, int length)
{
    WriteText(text, length);
}

void AttachedConsole::Echo(const char* text, int length)
{
    WriteText(text, length);
}

int AttachedConsole::GetWidth()
{
    return Console_TerminalWidth(kStdout);
}

// Signals stay on in raw mode: Ctrl-C detaches through SIGINT.
void Terminal_EnterRawMode()
{
    SetAction(SIGINT, OnDetach);
    SetAction(SIGTERM, OnDetach);
    SetAction(SIGHUP, OnDetach);
    for (int signalNumber : kEndingSignals)
        SetAction(signalNumber, OnEnd);
    SetAction(SIGTSTP, OnStop);
    if (tcgetattr(kStdin, &s_saved) != 0)
        return;
    s_raw = Console_RawModeOf(s_saved);
    s_savedOk = 1;
    tcsetattr(kStdin, TCSANOW, &s_raw);
}

void Terminal_Leave()
{
    if (s_savedOk)
        tcsetattr(kStdin, TCSANOW, &s_saved);
    s_savedOk = 0;
}

bool Terminal_DetachRequested()
{
    return s_detach != 0;
}
