// tarn-console: the console of a running server, through its control
// socket (the launcher's -controlsocket).
//
//   tarn-console PATH            type lines and see the output, with the
//                                line editor and its history; Ctrl-D or
//                                Ctrl-C detaches and leaves the server running
//   tarn-console PATH -c LINE    sends LINE, prints the output that follows
//                                until 250 ms pass without any
//
// Exit status: 0 after a detach, the server's end or an answered line; 1
// when the connection fails or the server refuses, with the reason on one
// line; 2 when the arguments are not usable.
#include "attached_console.h"
#include "console_link.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int Usage()
{
    std::printf("usage: tarn-console PATH [-c LINE]\n");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    bool oneLine = argc == 4 && std::strcmp(argv[2], "-c") == 0;
    if (argc != 2 && !oneLine)
        return Usage();
    signal(SIGPIPE, SIG_IGN);  // a server gone is a failed write, not the tool's end
    ConsoleLink link;
    if (!link.Connect(argv[1]))
        return kExitRefused;
    bool answered = oneLine ? link.SendOne(argv[3]) : link.Attach();
    return answered ? kExitDone : kExitRefused;
}
