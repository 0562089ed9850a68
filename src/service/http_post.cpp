#include "http_post.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kNotYet = -1;

bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

// The status code of an answer that begins "HTTP/1.x NNN", kNotYet while
// its first line is incomplete, 0 when it is no such line.
int StatusCode(const char* reply, int length)
{
    const char* end = static_cast<const char*>(std::memchr(reply, '\n', length));
    if (!end)
        return kNotYet;
    const char prefix[] = "HTTP/1.";
    const int prefixLength = sizeof(prefix) - 1;
    // "HTTP/1.1 200": the prefix, the minor version, a space, three digits.
    if (end - reply < prefixLength + 5 || std::memcmp(reply, prefix, prefixLength) != 0 ||
        reply[prefixLength + 1] != ' ')
        return 0;
    int code = 0;
    for (const char* digit = reply + prefixLength + 2; digit < reply + prefixLength + 5; ++digit) {
        if (*digit < '0' || *digit > '9')
            return 0;
        code = code * 10 + (*digit - '0');
    }
    return code;
}

}  // namespace

int Http_FormatJsonPost(char (&out)[kHttpRequestSize], int port, const char* path)
{
    int length = std::snprintf(out, sizeof(out),
                               "POST %s HTTP/1.1\r\n"
                               "Host: 127.0.0.1:%d\r\n"
                               "Content-Type: application/json\r\n"
                               "Content-Length: 2\r\n"
                               "Connection: close\r\n"
                               "\r\n"
                               "{}",
                               path, port);
    return length > 0 && length < kHttpRequestSize ? length : -1;
}

bool CHttpPost::Begin(int port, const char* request, int length)
{
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 &&
        errno != EINPROGRESS) {
        Close();
        return false;
    }
    request_ = request;
    length_ = length;
    sent_ = 0;
    received_ = 0;
    return true;
}

HttpProgress CHttpPost::Advance()
{
    if (fd_ < 0)
        return HttpProgress::kFailed;
    HttpProgress sending = Send();
    if (sending != HttpProgress::kSucceeded)
        return sending;
    return Receive();
}

// kSucceeded once the whole request is out. A connect still in progress
// answers EAGAIN, like a full send buffer.
HttpProgress CHttpPost::Send()
{
    while (sent_ < length_) {
        ssize_t sent = send(fd_, request_ + sent_, length_ - sent_, MSG_NOSIGNAL);
        if (sent < 0)
            return WouldBlock() ? HttpProgress::kPending : Fail();
        sent_ += static_cast<int>(sent);
    }
    return HttpProgress::kSucceeded;
}

// Reads until the status line is complete, then closes without reading the
// rest: the server has acted on the request by the time it answers.
HttpProgress CHttpPost::Receive()
{
    ssize_t got = recv(fd_, reply_ + received_, kHttpReplySize - received_, 0);
    if (got < 0)
        return WouldBlock() ? HttpProgress::kPending : Fail();
    received_ += static_cast<int>(got);
    int code = StatusCode(reply_, received_);
    if (code == kNotYet && got > 0 && received_ < kHttpReplySize)
        return HttpProgress::kPending;
    if (code < 200 || code > 299)
        return Fail();
    Close();
    return HttpProgress::kSucceeded;
}

HttpProgress CHttpPost::Fail()
{
    Close();
    return HttpProgress::kFailed;
}

void CHttpPost::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

short CHttpPost::Awaited() const
{
    return sent_ < length_ ? POLLOUT : POLLIN;
}
