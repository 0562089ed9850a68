#include "text_console_unix.h"

#include "sys_printf.h"

#include <sys/select.h>
#include <unistd.h>

namespace {

constexpr int kStdin = 0;
constexpr char kEnter = '\n';

// True when a byte (or the end of input) can be read at once.
bool InputPending()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(kStdin, &readable);
    timeval noWait{0, 0};
    return select(kStdin + 1, &readable, nullptr, nullptr, &noWait) > 0;
}

bool Printable(char c)
{
    return c >= 32 && c <= 126;
}

}  // namespace

CTextConsoleUnix::~CTextConsoleUnix()
{
    ShutDown();
}

bool CTextConsoleUnix::Init(IBaseSystem*)
{
    Sys_Printf("\n");
    Sys_Printf("Console initialized.\n");
    return true;
}

void CTextConsoleUnix::ShutDown()
{
}

char* CTextConsoleUnix::GetLine()
{
    while (InputPending()) {
        char c;
        // End of input, or a failure (an interrupted read included): the
        // next frame polls again and finds what is still pending.
        if (read(kStdin, &c, 1) != 1)
            return nullptr;
        if (c == kEnter && lineLength > 0) {
            lineBuffer[lineLength] = '\0';
            lineLength = 0;
            return lineBuffer;
        }
        if (Printable(c) && lineLength < kMaxLineLength)
            lineBuffer[lineLength++] = c;
    }
    return nullptr;
}
