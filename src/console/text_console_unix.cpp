#include "console/text_console_unix.h"

#include "console/key_decoder.h"
#include "output/output.h"
#include "output/sys_printf.h"

#include <cstring>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kDefaultWidth = 80;


// Standard input's raw settings: the saved ones with line mode and echo off.
termios termNew;

// True when a byte, or the end of input, can be read at once.
bool InputPending()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(kStdin, &readable);
    timeval noWait{0, 0};
    return select(kStdin + 1, &readable, nullptr, nullptr, &noWait) > 0;
}

// The bytes pending on standard input now, at most the budget: later
// bytes, and the rest of a flood, are the next frame's.
int InputBudget()
{
    int pending = 0;
    if (ioctl(kStdin, FIONREAD, &pending) != 0 || pending <= 0)
        return CTextConsoleUnix::kInputBudget;
    return pending < CTextConsoleUnix::kInputBudget ? pending : CTextConsoleUnix::kInputBudget;
}

// Async-signal-safe. Blocks or unblocks the signals that a background
// process gets for using its terminal, so that it is not stopped here.
void BlockTerminalSignals(int how, bool alsoInput)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTTOU);
    if (alsoInput)
        sigaddset(&signals, SIGTTIN);
    sigprocmask(how, &signals, nullptr);
}

// Async-signal-safe.
void WriteSettings(const termios& settings)
{
    BlockTerminalSignals(SIG_BLOCK, false);
    tcsetattr(kStdin, TCSANOW, &settings);
    BlockTerminalSignals(SIG_UNBLOCK, false);
}

// Writes bytes through the output owner by the length convention: 0 the
// whole string, a positive length that many bytes, a negative length nothing.
void WriteText(OutputStream stream, const char* text, int length)
{
    if (length == 0)
        Output_Write(stream, text, std::strlen(text));
    else if (length > 0)
        Output_Write(stream, text, static_cast<size_t>(length));
}

}  // namespace

CTextConsoleUnix::~CTextConsoleUnix()
{
    ShutDown();
}

bool CTextConsoleUnix::Init(IBaseSystem*)
{
    BlockTerminalSignals(SIG_BLOCK, false);
    OpenEchoStream();
    SaveTerminalSettings();
    TakeTerminalAgain();
    BlockTerminalSignals(SIG_UNBLOCK, false);
    return CTextConsole::Init(nullptr);
}

void CTextConsoleUnix::OpenEchoStream()
{
    echoStream = stdout;
    if (isatty(kStdin)) {
        char path[L_ctermid];
        if (FILE* terminal = std::fopen(ctermid(path), "w+")) {
            std::setbuf(terminal, nullptr);
            echoStream = terminal;
        } else {
            Sys_Printf("Unable to open tty(%s) for output\n", path);
        }
    } else if (FILE* nowhere = std::fopen("/dev/null", "w+")) {
        echoStream = nowhere;
    }
    // The echo is written by the output owner, which never waits on it.
    Output_OpenEcho(fileno(echoStream));
}

void CTextConsoleUnix::ShutDown()
{
    GiveTerminalBack();
    CTextConsole::ShutDown();
}

// --- the terminal -----------------------------------------------------------------

// Reads the settings to give back and builds the raw ones from them.
// Without a terminal on standard input there is nothing to save or change.
void CTextConsoleUnix::SaveTerminalSettings()
{
    if (tcgetattr(kStdin, &savedTerminalSettings) != 0)
        return;
    termNew = Console_RawModeOf(savedTerminalSettings);
    settingsSaved = 1;
}

void CTextConsoleUnix::GiveTerminalBack()
{
    rawModeWanted = 0;
    if (settingsSaved)
        WriteSettings(savedTerminalSettings);
}

void CTextConsoleUnix::TakeTerminalAgain()
{
    if (!settingsSaved)
        return;
    rawModeWanted = 1;
    WriteSettings(termNew);
}

void CTextConsoleUnix::SuspendRawMode()
{
    if (rawModeWanted)
        WriteSettings(savedTerminalSettings);
}

void CTextConsoleUnix::ResumeRawMode()
{
    if (rawModeWanted)
        WriteSettings(termNew);
}

// --- output -----------------------------------------------------------------------

void CTextConsoleUnix::PrintRaw(const char* text, int length)
{
    WriteText(OutputStream::kStdout, text, length);
}

void CTextConsoleUnix::Echo(const char* text, int length)
{
    WriteText(OutputStream::kEcho, text, length);
}

int CTextConsoleUnix::GetWidth()
{
    return Console_TerminalWidth(kStdout);
}

termios Console_RawModeOf(const termios& settings)
{
    termios raw = settings;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return raw;
}

int Console_TerminalWidth(int fd)
{
    winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col <= 1)
        return kDefaultWidth;
    return size.ws_col;
}

int CTextConsoleUnix::kbhit()
{
    return InputPending() ? 1 : 0;
}

// --- input ------------------------------------------------------------------------

char* CTextConsoleUnix::GetLine()
{
    // The common case, nothing typed, costs this one poll.
    if (!InputPending())
        return nullptr;
    BlockTerminalSignals(SIG_BLOCK, true);
    char* line = ReadKeys(InputBudget());
    BlockTerminalSignals(SIG_UNBLOCK, true);
    return line;
}

// Reads and handles pending bytes one at a time, budget of them at most.
// Each read is polled for first: a signal character typed meanwhile may
// have flushed the terminal's input, and a read must never wait.
char* CTextConsoleUnix::ReadKeys(int budget)
{
    KeyDecoder decoder;
    do {
        unsigned char byte;
        // End of input, or a failed read: the next frame polls again. An
        // interrupted read leaves the pending bytes for that poll; any other
        // failure is not retried here, so a hung-up terminal costs one poll
        // per frame rather than a busy loop.
        if (read(kStdin, &byte, 1) != 1)
            return nullptr;
        if (decoder.Feed(*this, byte))
            return lineBuffer;
    } while (--budget > 0 && InputPending());
    return nullptr;
}
