#include "service/supervisors/http_post.h"

#include "common/http_text.h"
#include "common/socket.h"
#include "common/write_all.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kCodeLength = 3;

// The code of three digits, or 0.
int Code(const HttpText& word)
{
    if (word.length != kCodeLength)
        return 0;
    int code = 0;
    for (size_t i = 0; i < kCodeLength; ++i) {
        if (word.text[i] < '0' || word.text[i] > '9')
            return 0;
        code = code * 10 + (word.text[i] - '0');
    }
    return code;
}

}  // namespace

// "HTTP/1.1 200 OK": the prefix, a digit for the minor version, a space,
// three digits, then a space or the end of the line. Anything looser would
// take "HTTP/1.1 2000" for a success.
int Http_StatusCode(const char* reply, int length)
{
    size_t start = 0;
    HttpText rest;
    if (length <= 0 || !Http_NextLine(reply, static_cast<size_t>(length), start, rest))
        return kHttpNotYet;
    HttpText version;
    HttpText code;
    if (!Http_TakeWord(rest, version) || Http_MinorVersion(version) < 0)
        return 0;
    Http_TakeWord(rest, code);  // a reason phrase may follow, after a space
    return Code(code);
}

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

bool HttpPost::Begin(int port, const char* request, int length)
{
    Close();
    fd_ = Socket_Open(AF_INET, SOCK_STREAM);
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

HttpProgress HttpPost::Advance()
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
HttpProgress HttpPost::Send()
{
    while (sent_ < length_) {
        ssize_t sent = send(fd_, request_ + sent_, length_ - sent_, MSG_NOSIGNAL);
        if (sent < 0)
            return Fd_WouldBlock() ? HttpProgress::kPending : Fail();
        sent_ += static_cast<int>(sent);
    }
    return HttpProgress::kSucceeded;
}

// Reads until the status line is complete, then closes without reading the
// rest: the server has acted on the request by the time it answers.
HttpProgress HttpPost::Receive()
{
    ssize_t got = recv(fd_, reply_ + received_, kHttpReplySize - received_, 0);
    if (got < 0)
        return Fd_WouldBlock() ? HttpProgress::kPending : Fail();
    received_ += static_cast<int>(got);
    int code = Http_StatusCode(reply_, received_);
    if (code == kHttpNotYet && got > 0 && received_ < kHttpReplySize)
        return HttpProgress::kPending;
    if (code < 200 || code > 299)
        return Fail();
    Close();
    return HttpProgress::kSucceeded;
}

HttpProgress HttpPost::Fail()
{
    Close();
    return HttpProgress::kFailed;
}

void HttpPost::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

short HttpPost::Awaited() const
{
    return sent_ < length_ ? POLLOUT : POLLIN;
}
