#include "watchdog.h"

#include "common/format_cut.h"
#include "common/socket.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int64_t kKillAfterAbort = 5000;
// A message of the launcher is a few short lines; a longer one is cut.
constexpr size_t kMessageSize = 512;

// True when text holds line as one of its lines.
bool HasLine(const char* text, const char* line)
{
    size_t length = std::strlen(line);
    for (const char* at = std::strstr(text, line); at; at = std::strstr(at + 1, line))
        if ((at == text || at[-1] == '\n') && (at[length] == '\n' || at[length] == '\0'))
            return true;
    return false;
}

// One datagram and who sent it, or false when none is waiting.
bool ReceiveOne(int socket, char (&text)[kMessageSize], ucred& sender)
{
    iovec part{text, kMessageSize - 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t length = recvmsg(socket, &message, MSG_DONTWAIT);
    if (length < 0)
        return false;
    text[length] = '\0';
    sender = ucred{0, static_cast<uid_t>(-1), static_cast<gid_t>(-1)};
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS)
        std::memcpy(&sender, CMSG_DATA(header), sizeof(sender));
    return true;
}

}  // namespace

Watchdog::~Watchdog()
{
    if (socket_ >= 0)
        close(socket_);
    if (address_[0])
        unlink(address_);
    if (directory_[0])
        rmdir(directory_);
}

bool Watchdog::Open(int seconds)
{
    limit_ = static_cast<int64_t>(seconds) * 1000;
    const char* base = std::getenv("TMPDIR");
    char pattern[sizeof(directory_)];
    if (!Format_Whole(pattern, sizeof(pattern), "%s/tarn-run-XXXXXX", base && *base ? base : "/tmp")) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (!mkdtemp(pattern))
        return false;
    std::memcpy(directory_, pattern, sizeof(pattern));
    socket_ = Socket_Open(AF_UNIX, SOCK_DGRAM);
    int on = 1;
    // The kernel then names each sender, so that only the launcher counts.
    if (socket_ < 0 || setsockopt(socket_, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0)
        return false;
    return Bind();
}

bool Watchdog::Bind()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!Format_Whole(address.sun_path, sizeof(address.sun_path), "%s/notify", directory_)) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return false;
    std::memcpy(address_, address.sun_path, sizeof(address_));
    return true;
}

void Watchdog::Export() const
{
    char number[32];
    setenv("NOTIFY_SOCKET", address_, 1);
    std::snprintf(number, sizeof(number), "%lld", static_cast<long long>(limit_) * 1000);
    setenv("WATCHDOG_USEC", number, 1);
    std::snprintf(number, sizeof(number), "%d", static_cast<int>(getpid()));
    setenv("WATCHDOG_PID", number, 1);
}

void Watchdog::Watch(pid_t launcher)
{
    launcher_ = launcher;
    armed_ = false;
    abortedAt_ = -1;
    killed_ = false;
}

void Watchdog::Receive(int64_t nowMilliseconds)
{
    char text[kMessageSize];
    ucred sender{};
    while (ReceiveOne(socket_, text, sender))
        if (sender.pid == launcher_ && sender.uid == getuid())
            Heard(text, nowMilliseconds);
}

// The watch starts with the first frame, as systemd's starts once the
// service is ready, and ends when the launcher says that it stops.
void Watchdog::Heard(const char* text, int64_t nowMilliseconds)
{
    if (HasLine(text, "READY=1") || HasLine(text, "WATCHDOG=1")) {
        armed_ = true;
        lastSign_ = nowMilliseconds;
    }
    if (HasLine(text, "STOPPING=1"))
        armed_ = false;
}

int64_t Watchdog::Due() const
{
    if (killed_)
        return -1;
    if (abortedAt_ >= 0)
        return abortedAt_ + kKillAfterAbort;
    return armed_ ? lastSign_ + limit_ : -1;
}

void Watchdog::Act(int64_t nowMilliseconds)
{
    if (abortedAt_ < 0) {
        std::printf("tarn-run: no watchdog ping from the launcher for %lld s; ending it with SIGABRT\n",
                    static_cast<long long>(limit_ / 1000));
        kill(launcher_, SIGABRT);
        abortedAt_ = nowMilliseconds;
    } else {
        std::printf("tarn-run: the launcher is still there 5 s after SIGABRT; killing it\n");
        kill(launcher_, SIGKILL);
        killed_ = true;
    }
    std::fflush(stdout);
}
