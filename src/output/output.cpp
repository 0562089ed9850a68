#include "output/output.h"

#include "common/clock.h"
#include "output/output_channel.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStdout = 1;

OutputHistory s_history;

// Standard output's stream is kept from the first byte on.
void KeepInHistory(const char* text, size_t length)
{
    s_history.Append(text, length);
}

char s_stdoutQueue[kStdoutQueueSize];
char s_echoQueue[kEchoQueueSize];
OutputChannel s_stdout(s_stdoutQueue, sizeof(s_stdoutQueue), KeepInHistory);
OutputChannel s_echo(s_echoQueue, sizeof(s_echoQueue));
bool s_echoSharesStdout = false;
int64_t s_drainDeadline = 0;  // set by the first drain

OutputChannel* const kChannels[] = {&s_stdout, &s_echo};

bool IsDevNull(const struct stat& status)
{
    struct stat devNull {};
    return S_ISCHR(status.st_mode) && stat("/dev/null", &devNull) == 0 &&
           status.st_rdev == devNull.st_rdev;
}

// A description of the launcher's own for the same pipe, FIFO or terminal,
// where O_NONBLOCK changes nobody else's writes; -1 when it cannot be had.
int OpenPrivately(int descriptor)
{
    char path[32];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", descriptor);
    return open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Chooses how to write descriptor without waiting, and what to write to.
void AttachTo(OutputChannel& channel, int descriptor)
{
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || S_ISREG(status.st_mode)) {
        channel.Attach(descriptor, Sink::kBlocking);
    } else if (IsDevNull(status)) {
        channel.Attach(descriptor, Sink::kDiscard);
    } else if (S_ISSOCK(status.st_mode)) {
        channel.Attach(descriptor, Sink::kSocket);
    } else if (S_ISFIFO(status.st_mode) || isatty(descriptor)) {
        int own = OpenPrivately(descriptor);
        if (own >= 0)
            channel.Attach(own, Sink::kNonBlocking);
        else  // another user's pipe or terminal, or a FIFO without a reader
            channel.Attach(descriptor, S_ISFIFO(status.st_mode) ? Sink::kPolled : Sink::kBlocking);
    } else {
        channel.Attach(descriptor, Sink::kBlocking);
    }
}

bool SameTerminal(int a, int b)
{
    struct stat first {}, second {};
    return fstat(a, &first) == 0 && fstat(b, &second) == 0 && S_ISCHR(first.st_mode) &&
           S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev;
}

OutputChannel& ChannelOf(OutputStream stream)
{
    return stream == OutputStream::kEcho && !s_echoSharesStdout ? s_echo : s_stdout;
}

void DrainAtExit()
{
    Output_Drain();
}

// Waits, until the deadline at most, for a channel's reader to take more.
void AwaitReaders(int64_t deadline)
{
    pollfd waiting[2];
    nfds_t count = 0;
    for (OutputChannel* channel : kChannels)
        if (channel->Pending())
            waiting[count++] = pollfd{channel->Descriptor(), POLLOUT, 0};
    int64_t left = deadline - Clock_Microseconds();
    if (count > 0 && left > 0)
        poll(waiting, count, static_cast<int>(left / 1000 + 1));
}

bool AnyPending()
{
    return s_stdout.Pending() || s_echo.Pending();
}

// What the engine printed through its own stdio rather than Sys_Printf.
// The engine is gone by now, so descriptor 1 may become the launcher's
// non-blocking description for this last write; where none exists and the
// write might wait, it is left unwritten.
void FlushEngineStdio()
{
    if (__fpending(stdout) == 0)
        return;
    if (s_stdout.Kind() == Sink::kNonBlocking)
        dup2(s_stdout.Descriptor(), kStdout);
    else if (s_stdout.Kind() != Sink::kBlocking && s_stdout.Kind() != Sink::kDiscard)
        return;
    std::fflush(stdout);
}

}  // namespace

void Output_Open()
{
    AttachTo(s_stdout, kStdout);
    std::atexit(DrainAtExit);
}

void Output_OpenEcho(int descriptor)
{
    s_echoSharesStdout = descriptor == kStdout || SameTerminal(descriptor, kStdout);
    if (!s_echoSharesStdout)
        AttachTo(s_echo, descriptor);
}

void Output_Write(OutputStream stream, const char* text, size_t length)
{
    ChannelOf(stream).Write(text, length);
}

void Output_Flush()
{
    for (OutputChannel* channel : kChannels)
        if (channel->Pending())
            channel->Flush();
}

void Output_Drain()
{
    if (s_drainDeadline == 0)
        s_drainDeadline = Clock_Microseconds() + kDrainMicroseconds;
    for (OutputChannel* channel : kChannels)
        channel->Conclude();
    for (;;) {
        Output_Flush();
        if (!AnyPending() || Clock_Microseconds() >= s_drainDeadline)
            break;
        AwaitReaders(s_drainDeadline);
    }
    FlushEngineStdio();
}

void Output_WriteLast(const char* text, size_t length)
{
    s_stdout.WriteLast(text, length);
}

const OutputHistory& Output_History()
{
    return s_history;
}

int64_t Output_DroppedLines()
{
    return s_stdout.DroppedLines() + s_echo.DroppedLines();
}
