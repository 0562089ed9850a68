// Fuzzes the terminal console's input path as the run loop drives it: the
// bytes arrive on standard input, a pipe here so that no terminal is ever
// touched, and GetLine decodes them into the line editor's keys.
//
// Input: the first byte is the burst length (0: all the rest in one burst);
// the rest is the bytes typed, written in bursts of that length, each polled
// until nothing is pending before the next is written. A sequence cut at
// the end of a burst is not recognised, as when it is split between two
// frames.
#include "console/text_console_unix.h"
#include "console_probe.h"
#include "fuzz_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace {

// Every burst goes into the pipe before it is read: it must stay below the
// pipe's capacity (64 KiB on Linux) or the write would block.
constexpr size_t kLongestInput = 16384;

ConsoleProbe<CTextConsoleUnix> s_console;
int s_typing = -1;  // write end of the pipe on standard input

// Polls as the run loop does, once a frame, until the burst is used up. A
// poll that finds bytes pending reads at least one, so there are at most as
// many polls as bytes.
void PollUntilEmpty(size_t burstLength)
{
    for (size_t polls = 0; s_console.kbhit(); ++polls) {
        FUZZ_CHECK(polls < burstLength);
        const char* line = s_console.GetLine();
        s_console.CheckState();
        if (line)
            s_console.CheckDelivered(line);
    }
}

void Type(const uint8_t* bytes, size_t length)
{
    FUZZ_CHECK(write(s_typing, bytes, length) == static_cast<ssize_t>(length));
    PollUntilEmpty(length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int ends[2];
    FUZZ_CHECK(pipe(ends) == 0);
    FUZZ_CHECK(dup2(ends[0], 0) == 0);
    close(ends[0]);
    s_typing = ends[1];
    // The console's messages are of no interest here.
    int nowhere = open("/dev/null", O_WRONLY);
    FUZZ_CHECK(nowhere >= 0 && dup2(nowhere, 1) == 1);
    close(nowhere);
    FUZZ_CHECK(s_console.Init(nullptr));
    FUZZ_CHECK(!s_console.WantsRawMode());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > kLongestInput)
        return 0;
    s_console.ResetEditor(nullptr);
    size_t burst = data[0] == 0 ? size : data[0];
    for (size_t at = 1; at < size; at += burst)
        Type(data + at, std::min(burst, size - at));
    s_console.CheckState();
    return 0;
}
