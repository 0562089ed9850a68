#include "sdk_sidecar.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A socket bound (or connected) to 127.0.0.1:port, or -1.
int LoopbackSocket(int port, bool bindIt, int flags = 0)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    auto* where = reinterpret_cast<sockaddr*>(&address);
    if ((bindIt ? bind(fd, where, sizeof(address)) : connect(fd, where, sizeof(address))) == 0)
        return fd;
    close(fd);
    return -1;
}

// "2026-12-09T02:04:37.7959Z" in µs since the epoch; the fraction has up
// to nine digits, its trailing zeros left out.
long long ParseTime(const std::string& text)
{
    tm at{};
    double seconds = 0;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lf", &at.tm_year, &at.tm_mon, &at.tm_mday, &at.tm_hour,
                &at.tm_min, &seconds);
    at.tm_year -= 1900;
    at.tm_mon -= 1;
    return timegm(&at) * 1000000LL + static_cast<long long>(seconds * 1e6);
}

}  // namespace

int FreeLoopbackPorts(int count)
{
    for (int first = 30300 + getpid() % 200 * 4;; first += count) {
        int free = 0;
        for (int fd; free < count && (fd = LoopbackSocket(first + free, true)) >= 0; ++free)
            close(fd);
        if (free == count)
            return first;
    }
}

int LoopbackListener(int port)
{
    int fd = LoopbackSocket(port, true, SOCK_NONBLOCK);
    return fd >= 0 && listen(fd, 8) == 0 ? fd : -1;
}

int LoopbackConnection(int port)
{
    return LoopbackSocket(port, false);
}

std::string SdkSidecar::Binary()
{
    std::string path = TARN_SHARED_DIR "/agones/sdk-server";
    return access(path.c_str(), X_OK) == 0 ? path : "";
}

SdkSidecar::SdkSidecar(int delaySeconds) : port_(FreeLoopbackPorts(2))
{
    char pattern[] = "/tmp/tarn-sdk-XXXXXX";
    close(mkstemp(pattern));
    log_ = pattern;
    std::string http = std::to_string(port_), grpc = std::to_string(port_ + 1),
                delay = std::to_string(delaySeconds), binary = Binary();
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(log_.c_str(), O_WRONLY);
        dup2(out, 1);
        dup2(out, 2);
        execl(binary.c_str(), binary.c_str(), "--local", "--http-port", http.c_str(), "--grpc-port",
              grpc.c_str(), "--delay", delay.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

SdkSidecar::~SdkSidecar()
{
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    unlink(log_.c_str());
}

std::vector<long long> SdkSidecar::Calls(const std::string& message) const
{
    std::vector<long long> times;
    std::ifstream in(log_);
    const std::string key = "\"message\":\"" + message + "\"", stamp = "\"time\":\"";
    for (std::string line; std::getline(in, line);)
        if (line.find(key) != std::string::npos && line.find(stamp) != std::string::npos)
            times.push_back(ParseTime(line.substr(line.find(stamp) + stamp.size())));
    return times;
}

bool SdkSidecar::WaitForCalls(const std::string& message, size_t count) const
{
    for (int tries = 0; Calls(message).size() < count; ++tries, usleep(10000))
        if (tries == 2000)
            return false;
    return true;
}

std::string SdkSidecar::State() const
{
    int fd = LoopbackSocket(port_, false);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    const char request[] = "GET /gameserver HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::string answer;
    char buffer[4096];
    if (send(fd, request, sizeof(request) - 1, MSG_NOSIGNAL) > 0)
        for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            answer.append(buffer, got);
    close(fd);
    size_t at = answer.find("\"state\":\"");
    return at == std::string::npos ? "" : answer.substr(at + 9, answer.find('"', at + 9) - at - 9);
}
