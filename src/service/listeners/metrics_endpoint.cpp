#include "service/listeners/metrics_endpoint.h"

#include "common/socket.h"
#include "common/write_all.h"
#include "service/listener.h"
#include "service/listeners/http_request.h"
#include "service/listeners/metrics_page.h"
#include "service/listeners/metrics_proto_page.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMaxConnections = 4;
// For the whole head, and again for the whole answer, in µs.
constexpr int64_t kExchangeTimeout = 2000000;
// Connections taken from the queue per poll, so that a flood of them costs
// a frame a bounded time; the rest wait for the next poll.
constexpr int kAcceptsPerServe = 8;
// Room for the status line and the header fields, in front of the body.
constexpr size_t kHeaderRoom = 256;
constexpr size_t kBodyRoom = kMetricsProtoPageSize > kMetricsPageSize ? kMetricsProtoPageSize : kMetricsPageSize;
constexpr size_t kBufferSize = kHeaderRoom + kBodyRoom;
static_assert(kBufferSize >= kHttpMaxHead, "the head is read into the same buffer");

const char kRefusal[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    default: return "Internal Server Error";
    }
}

// Reads and drops what the peer sent that was not read, then closes: a
// close with unread input would reset the connection and could cost the
// peer the end of the answer.
void CloseGently(int fd)
{
    char discard[512];
    for (int reads = 0; reads < 8 && recv(fd, discard, sizeof(discard), MSG_DONTWAIT) > 0; ++reads) {
    }
    close(fd);
}

// What the peer sends after its head is read and thrown away, at most this
// much a poll, until it sends no more: a close with unread input would
// reset the connection, and a peer still sending would lose the answer.
constexpr int kDrainReadsPerServe = 16;
// A peer quiet this long after its answer, in µs, sends no more.
constexpr int64_t kDrainQuiet = 100000;

enum class Stage {
    kReading,    // the head, until it is judged
    kAnswering,  // the answer goes out
    kDraining,   // answered and shut for writing; the peer's rest is read
};

struct Connection {
    int fd = -1;
    Stage stage = Stage::kReading;
    int64_t deadline = 0;    // coarse monotonic µs; closed then, whatever its stage
    int64_t heardAt = 0;     // while draining: its last bytes, or the answer's end
    bool cutShort = false;   // its head was too long: more of it may be on the way
    size_t received = 0;     // bytes of the head in buffer
    size_t sent = 0;         // the answer is buffer[sent, end)
    size_t end = 0;
    char buffer[kBufferSize];
};

class MetricsEndpoint final : public IListener {
public:
    int Open(const ListenAddress& address);
    int Watch(pollfd* out) override;
    void Serve(const pollfd* polled, int count, int64_t now) override;
    void Close() override;

private:
    void AcceptPending(int64_t now);
    void Receive(Connection& peer, int64_t now);
    void Answer(Connection& peer, const HttpJudgement& judgement, int64_t now);
    size_t WriteBody(Connection& peer, const HttpJudgement& judgement, int& status);
    void Send(Connection& peer, int64_t now);
    void Finish(Connection& peer, int64_t now);
    void Drain(Connection& peer, int64_t now);
    void Drop(Connection& peer);
    Connection* Find(int fd);

    int listener_ = -1;
    Connection peers_[kMaxConnections];
};

int MetricsEndpoint::Open(const ListenAddress& address)
{
    int fd = Socket_Listen(reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    if (fd < 0)
        return errno;
    listener_ = fd;
    return 0;
}

int MetricsEndpoint::Watch(pollfd* out)
{
    int count = 0;
    out[count++] = {listener_, POLLIN, 0};
    for (const Connection& peer : peers_)
        if (peer.fd >= 0)
            out[count++] = {peer.fd, static_cast<short>(peer.stage == Stage::kAnswering ? POLLOUT : POLLIN), 0};
    return count;
}

void MetricsEndpoint::Serve(const pollfd* polled, int count, int64_t now)
{
    for (int i = 1; i < count; ++i) {
        Connection* peer = Find(polled[i].fd);
        if (!peer)
            continue;
        bool ready = polled[i].revents != 0;
        if (peer->stage == Stage::kDraining && ready)
            Drain(*peer, now);
        else if (peer->stage == Stage::kDraining && now - peer->heardAt >= kDrainQuiet)
            Drop(*peer);
        else if (ready && peer->stage == Stage::kAnswering)
            Send(*peer, now);
        else if (ready)
            Receive(*peer, now);
    }
    for (Connection& peer : peers_)
        if (peer.fd >= 0 && now >= peer.deadline)
            Drop(peer);
    if (count > 0 && (polled[0].revents & POLLIN))
        AcceptPending(now);
}

void MetricsEndpoint::AcceptPending(int64_t now)
{
    for (int i = 0; i < kAcceptsPerServe; ++i) {
        int fd = Socket_Accept(listener_);
        if (fd < 0)
            return;
        Connection* peer = Find(-1);
        if (!peer) {
            send(fd, kRefusal, sizeof(kRefusal) - 1, MSG_NOSIGNAL);
            CloseGently(fd);
            continue;
        }
        peer->fd = fd;
        peer->stage = Stage::kReading;
        peer->received = 0;
        peer->deadline = now + kExchangeTimeout;
    }
}

// Reads what has arrived of the head, and answers once it is judged. A
// peer that ends or fails before that is closed.
void MetricsEndpoint::Receive(Connection& peer, int64_t now)
{
    bool ended = false;
    while (peer.received < kHttpMaxHead && !ended) {
        ssize_t got = recv(peer.fd, peer.buffer + peer.received, kHttpMaxHead - peer.received, 0);
        if (got < 0 && Fd_WouldBlock())
            break;
        ended = got <= 0;
        peer.received += got > 0 ? static_cast<size_t>(got) : 0;
    }
    HttpJudgement judgement = Http_Judge(peer.buffer, peer.received);
    if (judgement.status != 0)
        Answer(peer, judgement, now);
    else if (ended)
        Drop(peer);
}

// The answer goes into the buffer with its head right in front of the
// body, and out as far as the peer takes it now.
void MetricsEndpoint::Answer(Connection& peer, const HttpJudgement& judgement, int64_t now)
{
    int status = judgement.status;
    size_t body = WriteBody(peer, judgement, status);
    const char* type = judgement.protobufWanted ? kMetricsProtoContentType : kMetricsContentType;
    char head[kHeaderRoom];
    int length = std::snprintf(head, sizeof(head),
                               "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s"
                               "Connection: close\r\n\r\n",
                               status, Reason(status),
                               status == 200 ? type : "text/plain; charset=utf-8", body,
                               status == 405 ? "Allow: GET, HEAD\r\n" : "");
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(head)) {
        Drop(peer);
        return;
    }
    std::memcpy(peer.buffer + kHeaderRoom - length, head, static_cast<size_t>(length));
    peer.sent = kHeaderRoom - static_cast<size_t>(length);
    peer.end = kHeaderRoom + (judgement.bodyWanted ? body : 0);
    peer.stage = Stage::kAnswering;
    peer.cutShort = status == 431;
    peer.deadline = now + kExchangeTimeout;
    Send(peer, now);
}

// The page for 200, in the format that the request asks for, else the
// reason as one line; a page that does not fit turns the answer into a 500.
size_t MetricsEndpoint::WriteBody(Connection& peer, const HttpJudgement& judgement, int& status)
{
    char* body = peer.buffer + kHeaderRoom;
    if (status == 200) {
        size_t length = judgement.protobufWanted ? Metrics_WriteProtoPage(body, kMetricsProtoPageSize)
                                                 : Metrics_WritePage(body, kMetricsPageSize);
        if (length > 0)
            return length;
        status = 500;
    }
    int length = std::snprintf(body, kMetricsPageSize, "%s\n", Reason(status));
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void MetricsEndpoint::Send(Connection& peer, int64_t now)
{
    while (peer.sent < peer.end) {
        ssize_t sent = send(peer.fd, peer.buffer + peer.sent, peer.end - peer.sent, MSG_NOSIGNAL);
        if (sent < 0 && Fd_WouldBlock())
            return;
        if (sent <= 0)
            break;
        peer.sent += static_cast<size_t>(sent);
    }
    Finish(peer, now);
}

// The answer is out, or cannot go: the peer gets the end of the stream
// after it, and what it still sends is read until it is quiet for
// kDrainQuiet (Serve closes it then), its end, or the deadline. A peer
// whose whole head was read and that sent nothing more is closed at once.
void MetricsEndpoint::Finish(Connection& peer, int64_t now)
{
    shutdown(peer.fd, SHUT_WR);
    peer.stage = Stage::kDraining;
    peer.heardAt = now;
    char probe;
    if (!peer.cutShort && recv(peer.fd, &probe, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && Fd_WouldBlock())
        Drop(peer);
}

void MetricsEndpoint::Drain(Connection& peer, int64_t now)
{
    char discard[4096];
    for (int reads = 0; reads < kDrainReadsPerServe; ++reads) {
        ssize_t got = recv(peer.fd, discard, sizeof(discard), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && !Fd_WouldBlock())) {
            Drop(peer);
            return;
        }
        if (got < 0)
            return;
        peer.heardAt = now;
    }
}

void MetricsEndpoint::Drop(Connection& peer)
{
    close(peer.fd);
    peer.fd = -1;
    peer.stage = Stage::kReading;
}

Connection* MetricsEndpoint::Find(int fd)
{
    for (Connection& peer : peers_)
        if (peer.fd == fd)
            return &peer;
    return nullptr;
}

void MetricsEndpoint::Close()
{
    for (Connection& peer : peers_)
        if (peer.fd >= 0)
            Drop(peer);
    if (listener_ >= 0)
        close(listener_);
    listener_ = -1;
}

MetricsEndpoint s_endpoint;

}  // namespace

IListener* Metrics_Listen(const ListenAddress& address, int& failure)
{
    failure = s_endpoint.Open(address);
    return failure == 0 ? &s_endpoint : nullptr;
}
