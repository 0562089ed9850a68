#include "console_link.h"

#include "attached_console.h"
#include "common/clock.h"
#include "common/limits.h"
#include "common/text_builder.h"
#include "common/write_all.h"
#include "console/key_decoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kQuietMilliseconds = 250;
// A line that the server has not taken by then, counted from the start of
// the connection, never will be: its frame hangs.
constexpr int kTakenWithinMilliseconds = 5000;
// A server that never falls quiet still lets a script go on.
constexpr int kLongestAnswerMilliseconds = 5000;
constexpr unsigned char kCtrlD = 4;
constexpr int kKeyBurst = 256;
// The first line: "Attached to ", a socket address's path and how to detach.
constexpr int kAttachedSize = 256;
const char* const kRefused = "Refused: ";
// "uid N> " with the longest uid, and the longest line the server takes.
constexpr size_t kMarkerSize = sizeof("uid 4294967295> ") + kMaxConsoleLine;

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

ConsoleLink::~ConsoleLink()
{
    if (fd_ >= 0)
        close(fd_);
}

bool ConsoleLink::Connect(const char* path)
{
    path_ = path;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof(address.sun_path)) {
        std::printf("tarn-console: %s: the path is too long for a socket address\n", path);
        return false;
    }
    std::strcpy(address.sun_path, path);
    takenBy_ = Clock_Milliseconds() + kTakenWithinMilliseconds;
    // A hung server accepts nobody, and once abandoned connections fill its
    // listen queue a connect waits for room: the send timeout bounds that
    // wait (then EAGAIN), and every send's.
    timeval budget{kTakenWithinMilliseconds / 1000, 0};
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &budget, sizeof(budget)) != 0 ||
        connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (errno == EAGAIN || errno == EINPROGRESS)
            std::printf("tarn-console: cannot connect to %s: the server accepted nothing for %d s\n", path,
                        kTakenWithinMilliseconds / 1000);
        else
            std::printf("tarn-console: cannot connect to %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}

// Waits up to milliseconds for the server's bytes and keeps them.
ConsoleLink::Got ConsoleLink::Receive(int milliseconds)
{
    if (taken_ > 0) {
        std::memmove(buffer_, buffer_ + taken_, length_ - taken_);
        length_ -= taken_;
        taken_ = 0;
    }
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, milliseconds) <= 0)
        return Got::kQuiet;
    if (length_ == kBufferSize)
        return Got::kData;  // the caller shows what is there first
    ssize_t count = recv(fd_, buffer_ + length_, kBufferSize - length_, 0);
    if (count <= 0)
        return Got::kEnd;
    length_ += static_cast<size_t>(count);
    return Got::kData;
}

// The next whole line received and its length with the line break, or
// null. It may hold any byte, a NUL among them.
const char* ConsoleLink::NextLine(size_t* length)
{
    char* start = buffer_ + taken_;
    auto* newline = static_cast<char*>(std::memchr(start, '\n', length_ - taken_));
    if (!newline)
        return nullptr;
    taken_ = static_cast<size_t>(newline - buffer_) + 1;
    *length = static_cast<size_t>(newline - start) + 1;
    return start;
}

// SIGPIPE is ignored: a server gone is a failed write.
bool ConsoleLink::SendAll(const char* text, size_t length)
{
    return Fd_WriteAll(fd_, text, length);
}

// What the server logs when it takes line from this user: "uid N> " and the
// line's characters from 32 to 126.
void ConsoleLink::Printable(const char* line, char* marker, size_t size) const
{
    TextBuilder text(marker, size);
    text.Add("uid ").Number(geteuid()).Add("> ");
    for (const char* c = line; *c; ++c)
        if (*c >= ' ' && *c <= '~')
            text.Put(*c);
}

// The server's bytes as the operator's terminal may show them (see
// common/text_escaper.h), terminated; ended once the server has gone.
const char* ConsoleLink::Shown(const char* bytes, size_t length, bool ended)
{
    shown_.Truncate(0);
    escaper_.Add(bytes, length, shown_);
    if (ended)
        escaper_.Finish(shown_);
    return shown_.Text();
}

void ConsoleLink::Show(const char* bytes, size_t length, bool ended)
{
    Shown(bytes, length, ended);
    std::fwrite(shown_.Text(), 1, shown_.Length(), stdout);
}

// --- one line for a script ----------------------------------------------------------

bool ConsoleLink::SendOne(const char* line)
{
    char marker[kMarkerSize];
    Printable(line, marker, sizeof(marker));
    if (!SendAll(line, std::strlen(line)) || !SendAll("\n", 1)) {
        std::printf("tarn-console: %s: the server closed the connection\n", path_);
        return false;
    }
    long long takenBy = takenBy_;
    long long answerBy = 0;  // set once the server has taken the line
    for (;;) {
        long long now = Clock_Milliseconds();
        int wait = answerBy ? kQuietMilliseconds : static_cast<int>(takenBy > now ? takenBy - now : 0);
        Got got = Receive(wait);
        size_t length = 0;
        while (const char* received = NextLine(&length)) {
            if (answerBy) {
                Show(received, length, false);
            } else if (StartsWith(received, kRefused)) {
                Show(received, length, true);
                return false;
            } else if (length == std::strlen(marker) + 1 && std::memcmp(received, marker, length - 1) == 0) {
                answerBy = Clock_Milliseconds() + kLongestAnswerMilliseconds;
            }
        }
        if (answerBy && (got != Got::kData || Clock_Milliseconds() >= answerBy)) {
            Show(buffer_ + taken_, length_ - taken_, true);
            return true;
        }
        if (!answerBy && got != Got::kData) {
            std::printf("tarn-console: %s: %s\n", path_,
                        got == Got::kEnd ? "the server closed the connection"
                                         : "the server did not take the line");
            return false;
        }
    }
}

// --- the operator's console ---------------------------------------------------------

// Shows whole lines above the line being typed (all, when the buffer is
// full or the server has gone); returns 1 when they are a refusal, 0 when
// not, -1 when there was nothing to show.
int ConsoleLink::PrintLines(AttachedConsole& editor, Got got)
{
    bool all = got == Got::kEnd || length_ == kBufferSize;
    size_t end = length_;
    while (end > 0 && buffer_[end - 1] != '\n' && !all)
        --end;
    if (end == 0)
        return -1;
    int refused = StartsWith(buffer_, kRefused) ? 1 : 0;
    editor.Print(Shown(buffer_, end, got == Got::kEnd));
    taken_ = end;
    return refused;
}

// False when the operator detaches.
bool ConsoleLink::TypeKeys(AttachedConsole& editor)
{
    unsigned char keys[kKeyBurst];
    ssize_t count = read(0, keys, sizeof(keys));
    if (count <= 0)
        return count < 0 && errno == EINTR;
    KeyDecoder decoder;
    for (ssize_t i = 0; i < count; ++i) {
        if (keys[i] == kCtrlD)
            return false;
        if (decoder.Feed(editor, keys[i]) &&
            !(SendAll(editor.Line(), std::strlen(editor.Line())) && SendAll("\n", 1)))
            return false;
    }
    return true;
}

bool ConsoleLink::Attach()
{
    Terminal_EnterRawMode();
    AttachedConsole editor;
    editor.Init(nullptr);
    char attached[kAttachedSize];
    std::snprintf(attached, sizeof(attached),
                  "Attached to %s. Ctrl-D or Ctrl-C detaches and leaves the server running.\n", path_);
    editor.Print(attached);
    bool refused = false;
    while (!Terminal_DetachRequested()) {
        pollfd ready[2] = {{0, POLLIN, 0}, {fd_, POLLIN, 0}};
        if (poll(ready, 2, -1) < 0)
            continue;  // a signal: the loop's test decides
        if (ready[0].revents && !TypeKeys(editor))
            break;
        if (!ready[1].revents)
            continue;
        Got got = Receive(0);
        int shown = PrintLines(editor, got);
        if (shown >= 0)
            refused = shown == 1;  // a refusal is the last thing before the end
        if (got == Got::kEnd)
            break;
    }
    Terminal_Leave();
    std::printf("\n");
    return !refused;
}
