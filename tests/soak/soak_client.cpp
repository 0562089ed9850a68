#include "soak_client.h"

#include "monotonic.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr size_t kLongestLine = 254;
constexpr size_t kSlowReadBytes = 2048;
constexpr long long kSlowReadEveryMs = 20;
constexpr long long kLauncherEndMs = 2000;

long long Between(std::mt19937_64& random, long long low, long long high)
{
    return std::uniform_int_distribution<long long>(low, high)(random);
}

bool HungUp(int fd)
{
    pollfd polled{fd, 0, 0};
    return poll(&polled, 1, 0) > 0 && (polled.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace

bool ProcessEnded(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip, state;
    if (!(stat >> skip))
        return true;
    // The name is in parentheses and may hold spaces: the state follows the last ')'.
    std::string rest((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = rest.rfind(')');
    return close == std::string::npos || rest.compare(close + 1, 2, " Z") == 0;
}

SoakClient::SoakClient(int id, const ClientPlan& plan, uint64_t seed, int lineBytes)
    : id_(id), plan_(plan), random_(seed + 7919ULL * static_cast<uint64_t>(id)), check_(lineBytes, false)
{
    nextBurstMs_ = plan.joinMs;
}

SoakClient::~SoakClient()
{
    if (fd_ >= 0)
        close(fd_);
}

void SoakClient::Step(long long nowMs, const std::string& socketPath, pid_t launcher)
{
    if (done_)
        return;
    if (endedAtMs_ >= 0) {
        Judge(nowMs);
        return;
    }
    if (fd_ < 0) {
        if (nowMs >= plan_.leaveMs)
            done_ = true;
        else if (nowMs >= plan_.joinMs)
            Connect(socketPath, launcher);
        return;
    }
    if (nowMs < plan_.leaveMs && nowMs >= nextBurstMs_) {
        Burst();
        nextBurstMs_ = nowMs + Between(random_, 100, 2000);
    }
    Flush(nowMs);
    if (plan_.kind == ClientKind::kSteady)
        Read(SIZE_MAX, nowMs);
    else if (plan_.kind == ClientKind::kSlow && nowMs >= nextReadMs_) {
        Read(kSlowReadBytes, nowMs);
        nextReadMs_ = nowMs + kSlowReadEveryMs;
    }
    // A client that never reads learns of a cut only here.
    if (fd_ >= 0 && HungUp(fd_))
        Ended(nowMs, "hung up");
    if (fd_ >= 0 && nowMs >= plan_.leaveMs && outbox_.empty()) {
        close(fd_);
        fd_ = -1;
        done_ = true;
    }
}

void SoakClient::Connect(const std::string& socketPath, pid_t launcher)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd_);  // the launcher is between processes: try again next step
        fd_ = -1;
        return;
    }
    launcher_ = launcher;
}

// 1 to 200 numbered lines of random lengths, one in ten bursts with an
// over-long line among them.
void SoakClient::Burst()
{
    long long lines = Between(random_, 1, 200);
    long long overLongAt = Between(random_, 0, 9) == 0 ? Between(random_, 0, lines - 1) : -1;
    for (long long i = 0; i < lines; ++i) {
        if (i == overLongAt) {
            outbox_ += "c" + std::to_string(id_) + " long " + std::string(Between(random_, 255, 600), 'y') + "\n";
            lineEnds_ += 'o';
        }
        std::string line = "c" + std::to_string(id_) + " " + std::to_string(sequence_++) + " " +
                           std::to_string(MonotonicNanoseconds() / 1000) + " ";
        line.resize(static_cast<size_t>(Between(random_, static_cast<long long>(line.size()), kLongestLine)), 'x');
        outbox_ += line + "\n";
        lineEnds_ += 'n';
    }
}

void SoakClient::Flush(long long nowMs)
{
    if (outbox_.empty() || fd_ < 0)
        return;
    ssize_t written = send(fd_, outbox_.data(), outbox_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            Ended(nowMs, std::strerror(errno));
        return;
    }
    // Lines wholly written count as sent; the rest of a line partly
    // written goes first next time.
    size_t lines = static_cast<size_t>(std::count(outbox_.begin(), outbox_.begin() + written, '\n'));
    sent_ += std::count(lineEnds_.begin(), lineEnds_.begin() + lines, 'n');
    overLong_ += std::count(lineEnds_.begin(), lineEnds_.begin() + lines, 'o');
    outbox_.erase(0, written);
    lineEnds_.erase(0, lines);
}

void SoakClient::Read(size_t most, long long nowMs)
{
    char buffer[65536];
    while (fd_ >= 0 && most > 0) {
        ssize_t count = recv(fd_, buffer, std::min(sizeof(buffer), most), MSG_DONTWAIT);
        if (count > 0) {
            check_.Feed(buffer, count);
            lastReadMs_ = nowMs;
            most -= count;
            continue;
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            Ended(nowMs, count == 0 ? "end of file" : std::strerror(errno));
        return;
    }
}

// The end of the connection from the launcher's side: a cut unless the
// launcher process itself ends within 2 s (then it crashed or stopped).
// What the launcher sent before it closed is read first: a send that broke
// may have come before the refusal that explains it.
void SoakClient::Ended(long long nowMs, const char* how)
{
    endedHow_ = how;
    char buffer[4096];
    for (ssize_t count; (count = recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0;) {
        check_.Feed(buffer, static_cast<size_t>(count));
        lastReadMs_ = nowMs;
    }
    close(fd_);
    fd_ = -1;
    endedAtMs_ = nowMs;
}

void SoakClient::Judge(long long nowMs)
{
    endedWithLauncher_ = ProcessEnded(launcher_);
    cut_ = !endedWithLauncher_ && nowMs - endedAtMs_ >= kLauncherEndMs;
    done_ = endedWithLauncher_ || cut_;
}
