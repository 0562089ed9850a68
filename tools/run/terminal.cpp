#include "terminal.h"

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kStdin = 0;
bool s_saved = false;
termios s_settings{};

}  // namespace

void Terminal_Save()
{
    s_saved = isatty(kStdin) && tcgetattr(kStdin, &s_settings) == 0;
}

void Terminal_Restore()
{
    if (!s_saved || tcgetpgrp(kStdin) != getpgrp())
        return;
    // Should the shell move the job to the background between the check and
    // the change, SIGTTOU would stop tarn-run; blocked, it does not.
    sigset_t ttou, previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &previous);
    tcsetattr(kStdin, TCSANOW, &s_settings);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}
