#include "attached_console.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kDefaultWidth = 80;
const int kEndingSignals[] = {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

termios s_saved;
termios s_raw;
volatile std::sig_atomic_t s_savedOk = 0;
volatile std::sig_atomic_t s_detach = 0;

// Async-signal-safe.
void WriteAll(const char* text, size_t length)
{
    while (length > 0) {
        ssize_t written = write(kStdout, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

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
        WriteAll(text, std::strlen(text));
    else if (length > 0)
        WriteAll(text, static_cast<size_t>(length));
}

}  // namespace

void CAttachedConsole::PrintRaw(const char* text, int length)
{
    WriteText(text, length);
}

void CAttachedConsole::Echo(const char* text, int length)
{
    WriteText(text, length);
}

int CAttachedConsole::GetWidth()
{
    winsize size{};
    if (ioctl(kStdout, TIOCGWINSZ, &size) != 0 || size.ws_col <= 1)
        return kDefaultWidth;
    return size.ws_col;
}

// Signals stay on in raw mode: Ctrl-C detaches through SIGINT.
void Terminal_EnterRawMode()
{
    SetAction(SIGINT, OnDetach);
    SetAction(SIGTERM, OnDetach);
    SetAction(SIGHUP, OnDetach);
    SetAction(SIGPIPE, SIG_IGN);
    for (int signalNumber : kEndingSignals)
        SetAction(signalNumber, OnEnd);
    SetAction(SIGTSTP, OnStop);
    if (tcgetattr(kStdin, &s_saved) != 0)
        return;
    s_raw = s_saved;
    s_raw.c_lflag &= ~(ICANON | ECHO);
    s_raw.c_cc[VMIN] = 1;
    s_raw.c_cc[VTIME] = 0;
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
