#include "service/listeners/control_socket.h"

#include "common/limits.h"
#include "common/socket.h"
#include "common/write_all.h"
#include "output/output.h"
#include "output/sys_printf.h"
#include "service/listener.h"
#include "service/listeners/control_line.h"
#include "telemetry/telemetry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What a console that attaches gets of the output before it.
constexpr size_t kReplayBytes = 64 * 1024;
// A client this far behind the output after a send misses lines, told so
// by a notice; the ring keeps the rest for it meanwhile.
constexpr uint64_t kMaxClientPending = 256 * 1024;
// What such a client still gets of the output: the latest lines.
constexpr uint64_t kKeptOnSkip = kMaxClientPending / 2;
// A client far behind that read nothing for this long, in µs, has stopped
// reading.
constexpr int64_t kReadingWindow = 2 * 1000000;
// The most output one send hands a client: a socket counts what its peer
// has not read in whole sends, so small ones show a slow reader reading.
constexpr size_t kSendPiece = 16 * 1024;
// A client that has sent nothing and read nothing this long, in µs, holds a
// place that an operator may need.
constexpr int64_t kSilenceTimeout = 60 * 1000000;
// Lines waiting for the engine; a client's further lines wait in its socket.
constexpr int kQueuedLines = 32;
constexpr int kReadSize = 4096;
constexpr int kNoteSize = 80;
// Connections taken per poll, so that a flood of them cannot hold a frame.
constexpr int kAcceptsPerPoll = 16;
// The supplementary groups of a peer that are looked at; more are not.
constexpr int kMaxPeerGroups = 64;
constexpr uid_t kRoot = 0;
constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;

const char* const kTooMany = "Refused: too many clients.\n";
const char* const kTooLong = "Refused: line longer than " TARN_DECIMAL(TARN_MAX_CONSOLE_LINE) " characters.\n";
const char* const kSilent = "Refused: nothing sent or read for 60 seconds.\n";
// As the terminal says it, after a newline when a line was cut.
const char* const kDropped = "%sOutput was blocked: %lld lines dropped.\n";

struct Client {
    int fd = -1;
    unsigned uid = 0;
    uint64_t cursor = 0;    // the next position of the output to send
    int64_t heardAt = 0;    // when it last sent bytes or read output
    int unread = 0;         // of what was sent to it, as its socket last told
    int64_t readAt = 0;     // when a look last found it had read some of that
    bool deaf = false;      // its socket takes no more: only its lines are read
    uint64_t linesSent = 0;  // the output's newlines before cursor
    bool midLine = false;    // the output sent to it ends inside a line
    // Notices for this client alone, sent where its output is between two
    // lines: the refusals of its over-long lines, and the lines it missed.
    int64_t refusals = 0;
    int64_t dropped = 0;
    bool cut = false;        // the dropped lines' notice ends a line cut short
    char note[kNoteSize] = {};  // the notice being sent
    int noteLength = 0;
    int noteSent = 0;
    ControlLine line;
    bool readable = false;   // the last poll found bytes or an end to read
    char input[kReadSize] = {};  // read, not yet taken apart into lines
    int inputStart = 0;
    int inputEnd = 0;
};

struct QueuedLine {
    char text[kMaxControlLine + 1];
    unsigned uid;
};

// What lies at the socket's path before the launcher creates it.
enum class PathState { kFree, kStale, kLive, kInTheWay, kUnreadable };

PathState Examine(const sockaddr_un& address)
{
    struct stat status {};
    if (lstat(address.sun_path, &status) != 0)
        return errno == ENOENT ? PathState::kFree : PathState::kUnreadable;
    if (!S_ISSOCK(status.st_mode))
        return PathState::kInTheWay;
    int probe = Socket_Open(AF_UNIX, SOCK_STREAM);
    if (probe < 0)
        return PathState::kUnreadable;
    int connected = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    int reason = errno;
    close(probe);
    if (connected == 0 || reason == EAGAIN)
        return PathState::kLive;
    errno = reason;
    return reason == ECONNREFUSED ? PathState::kStale : PathState::kUnreadable;
}

// What the peer has not read of what was sent to it, in the kernel's
// accounting of buffers rather than bytes: it falls whenever the peer reads
// a whole send, and is 0 once the peer has read everything. A socket that
// cannot tell counts as read, so that a reader is never taken for silent.
int Unread(int fd)
{
    int unread = 0;
    return ioctl(fd, SIOCOUTQ, &unread) == 0 ? unread : 0;
}

// A client shows it is there by sending bytes, or by reading what it was
// sent: its socket holds less of that unread than at the last look, or
// none. The socket is asked only when output goes out or the time is up,
// so an idle console costs nothing.
void LookAt(Client& client, int64_t now)
{
    int unread = Unread(client.fd);
    if (unread == 0 || unread < client.unread) {
        client.readAt = now;
        client.heardAt = now;
    }
    client.unread = unread;
}

bool Silent(Client& client, int64_t now)
{
    if (now - client.heardAt >= kSilenceTimeout)
        LookAt(client, now);
    return now - client.heardAt >= kSilenceTimeout;
}

// Sends what the peer's buffer takes now; what it does not take is lost,
// as the peer is closed either way.
void SendNow(int fd, const char* text)
{
    send(fd, text, std::strlen(text), kSendFlags);
}

// True when the peer's primary or supplementary groups hold the launcher's
// effective group.
bool InOurGroup(int fd, gid_t primary)
{
    gid_t ours = getegid();
    if (primary == ours)
        return true;
    gid_t groups[kMaxPeerGroups];
    socklen_t size = sizeof(groups);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &size) != 0)
        return false;
    for (socklen_t i = 0; i < size / sizeof(gid_t); ++i)
        if (groups[i] == ours)
            return true;
    return false;
}

class ControlSocket final : public IListener {
public:
    bool Open(const char* path, bool forGroup);
    int Watch(pollfd* out) override;
    void Serve(const pollfd* polled, int count, int64_t now) override;
    void Close() override;
    const char* TakeLine() override;
    const ControlCounts& Counts() const { return counts_; }

private:
    bool Refuse(PathState state);
    bool Listen();
    void AcceptAll(int64_t now);
    void Admit(int fd, unsigned uid, int64_t now);
    void TakeLines(int64_t now);
    bool TakeLineOf(Client& client, int64_t now);
    bool Refill(Client& client, int64_t now);
    void Queue(const Client& client);
    void SendTo(Client& client, int64_t now);
    void SendOutput(Client& client);
    bool SendNotes(Client& client);
    bool ComposeNote(Client& client);
    void Skip(Client& client);
    void Disconnect(Client& client, bool byLauncher);
    bool Ours() const;

    int listener_ = -1;
    sockaddr_un address_{};
    dev_t device_ = 0;  // of the socket file, to remove only ours
    ino_t inode_ = 0;
    bool forGroup_ = false;  // the launcher's group may attach too
    Client clients_[kMaxControlClients];
    int watched_[kMaxListenerDescriptors] = {};  // the client of each polled entry
    ControlCounts counts_;
    QueuedLine lines_[kQueuedLines] = {};
    int lineHead_ = 0;
    int lineCount_ = 0;
    char taken_[kMaxControlLine + 2] = {};  // the line handed out, with its "\n"
};

ControlSocket s_control;

void CloseAtExit()
{
    s_control.Close();
}

// --- opening ----------------------------------------------------------------------

bool ControlSocket::Open(const char* path, bool forGroup)
{
    forGroup_ = forGroup;
    if (std::strlen(path) >= sizeof(address_.sun_path)) {
        Sys_Printf("Control socket path too long for a socket address: %s\n", path);
        return false;
    }
    address_.sun_family = AF_UNIX;
    std::strcpy(address_.sun_path, path);
    PathState state = Examine(address_);
    if (state != PathState::kFree && state != PathState::kStale)
        return Refuse(state);
    // Nobody listens on a stale socket: it is what a crash left behind.
    if (state == PathState::kStale)
        unlink(path);
    if (!Listen())
        return false;
    std::atexit(CloseAtExit);
    return true;
}

bool ControlSocket::Refuse(PathState state)
{
    const char* path = address_.sun_path;
    if (state == PathState::kLive)
        Sys_Printf("Control socket %s: another server is listening on it.\n", path);
    else if (state == PathState::kInTheWay)
        Sys_Printf("Control socket %s: something else is there, and is left alone.\n", path);
    else
        Sys_Printf("Control socket %s: %s.\n", path, std::strerror(errno));
    return false;
}

// Created with mode 0600, or 0660 for the group, whatever the umask: the
// mask only ever takes away.
bool ControlSocket::Listen()
{
    mode_t mask = umask(forGroup_ ? 0117 : 0177);
    listener_ = Socket_Listen(reinterpret_cast<const sockaddr*>(&address_), sizeof(address_));
    umask(mask);
    struct stat status {};
    if (listener_ >= 0 && stat(address_.sun_path, &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
        return true;
    }
    Sys_Printf("Control socket %s: %s.\n", address_.sun_path, std::strerror(errno));
    if (listener_ >= 0) {
        unlink(address_.sun_path);
        close(listener_);
    }
    listener_ = -1;
    return false;
}

// --- the frame loop's poll --------------------------------------------------------

int ControlSocket::Watch(pollfd* out)
{
    int count = 0;
    out[count++] = pollfd{listener_, POLLIN, 0};
    for (int i = 0; i < kMaxControlClients; ++i) {
        if (clients_[i].fd < 0)
            continue;
        watched_[count] = i;
        out[count++] = pollfd{clients_[i].fd, POLLIN, 0};
    }
    return count;
}

void ControlSocket::Serve(const pollfd* polled, int count, int64_t now)
{
    for (int i = 1; i < count; ++i)
        clients_[watched_[i]].readable = (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    TakeLines(now);
    for (Client& client : clients_) {
        if (client.fd < 0)
            continue;
        if (Silent(client, now)) {
            SendNow(client.fd, kSilent);
            Disconnect(client, true);
        } else {
            SendTo(client, now);
        }
    }
    if (polled[0].revents & POLLIN)
        AcceptAll(now);
}

// --- clients ----------------------------------------------------------------------

void ControlSocket::AcceptAll(int64_t now)
{
    for (int i = 0; i < kAcceptsPerPoll; ++i) {
        int fd = Socket_Accept(listener_);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t size = sizeof(peer);
        bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
        if (known && (peer.uid == geteuid() || peer.uid == kRoot || (forGroup_ && InOurGroup(fd, peer.gid)))) {
            Admit(fd, peer.uid, now);
            continue;
        }
        char refusal[kNoteSize];
        std::snprintf(refusal, sizeof(refusal), "Refused: uid %u may not use this console.\n",
                      known ? static_cast<unsigned>(peer.uid) : static_cast<unsigned>(-1));
        SendNow(fd, refusal);
        close(fd);
        ++counts_.refused;
    }
}

// A new console starts with the recent output, in whole lines.
void ControlSocket::Admit(int fd, unsigned uid, int64_t now)
{
    for (Client& client : clients_) {
        if (client.fd >= 0)
            continue;
        client = Client{};
        client.fd = fd;
        client.uid = uid;
        client.cursor = Output_History().ReplayStart(kReplayBytes);
        client.linesSent = Output_History().Lines() - Output_History().LinesFrom(client.cursor);
        client.heardAt = now;
        client.readAt = now;
        ++counts_.attached;
        SendTo(client, now);
        return;
    }
    SendNow(fd, kTooMany);
    close(fd);
    ++counts_.refused;
}

// --- lines for the engine --------------------------------------------------------

// Each client in turn gives one line to the engine's queue, until the
// queue is full or no client has a line: none waits behind another's
// burst for more than a poll. What was read and not taken stays for the
// next poll.
void ControlSocket::TakeLines(int64_t now)
{
    for (bool took = true; took && lineCount_ < kQueuedLines;) {
        took = false;
        for (Client& client : clients_)
            took = (client.fd >= 0 && lineCount_ < kQueuedLines && TakeLineOf(client, now)) || took;
    }
}

// The client's next line into the queue; false when it has none yet.
bool ControlSocket::TakeLineOf(Client& client, int64_t now)
{
    for (;;) {
        if (client.inputStart == client.inputEnd && !Refill(client, now))
            return false;
        while (client.inputStart < client.inputEnd) {
            auto byte = static_cast<unsigned char>(client.input[client.inputStart++]);
            switch (client.line.Feed(byte)) {
            case LineEvent::kLine:
                Queue(client);
                return true;
            case LineEvent::kTooLong:
                ++client.refusals;
                break;
            case LineEvent::kFlood:
                Disconnect(client, true);
                return false;
            case LineEvent::kNone:
                break;
            }
        }
    }
}

// One read a poll, and only when the poll found something to read.
bool ControlSocket::Refill(Client& client, int64_t now)
{
    if (!client.readable)
        return false;
    client.readable = false;
    ssize_t count = recv(client.fd, client.input, sizeof(client.input), MSG_DONTWAIT);
    if (count == 0 || (count < 0 && !Fd_WouldBlock())) {
        Disconnect(client, false);
        return false;
    }
    if (count < 0)
        return false;
    client.inputStart = 0;
    client.inputEnd = static_cast<int>(count);
    client.heardAt = now;
    return true;
}

void ControlSocket::Queue(const Client& client)
{
    QueuedLine& queued = lines_[(lineHead_ + lineCount_++) % kQueuedLines];
    std::snprintf(queued.text, sizeof(queued.text), "%s", client.line.Text());
    queued.uid = client.uid;
}

// --- output to clients ------------------------------------------------------------

// Sends what the client's socket takes now: its notices, at a line's end
// only, and the output. A client far behind that read nothing for
// kReadingWindow has stopped reading; one that reads, however slowly,
// skips to the latest lines when still far behind after the send: a burst
// of output costs it lines, never its place. A client whose socket takes
// nothing more (it closed) is only read, so that no line it sent is lost.
void ControlSocket::SendTo(Client& client, int64_t now)
{
    const OutputHistory& history = Output_History();
    if (client.deaf)
        return;
    if (client.cursor != history.End())
        LookAt(client, now);
    if (history.End() - client.cursor > kMaxClientPending && now - client.readAt >= kReadingWindow) {
        Disconnect(client, true);
        return;
    }
    if (!SendNotes(client))
        return;
    if (client.cursor >= history.Oldest())
        SendOutput(client);
    if (client.deaf)
        return;
    if (history.End() - client.cursor > kMaxClientPending)
        Skip(client);
    SendNotes(client);
}

void ControlSocket::SendOutput(Client& client)
{
    const char* bytes = nullptr;
    const uint64_t from = client.cursor;
    for (size_t length; (length = Output_History().Span(client.cursor, &bytes)) > 0;) {
        ssize_t sent = send(client.fd, bytes, length < kSendPiece ? length : kSendPiece, kSendFlags);
        if (sent < 0 && !Fd_WouldBlock()) {
            client.deaf = true;
            return;
        }
        if (sent <= 0)
            break;
        client.cursor += static_cast<uint64_t>(sent);
        client.midLine = bytes[sent - 1] != '\n';
        for (const char* at = bytes; (at = static_cast<const char*>(std::memchr(at, '\n', bytes + sent - at))) != nullptr; ++at)
            ++client.linesSent;
    }
    // Only after a send: asked with nothing sent, it would hide what the client read since.
    if (client.cursor != from)
        client.unread = Unread(client.fd);
}

// The client misses the output up to the lines of the last kKeptOnSkip
// bytes; a line it was sent part of ends with the notice.
void ControlSocket::Skip(Client& client)
{
    const OutputHistory& history = Output_History();
    uint64_t to = history.NextLineStart(history.End() - kKeptOnSkip);
    if (to <= client.cursor)
        return;
    uint64_t linesBefore = history.Lines() - history.LinesFrom(to);
    client.dropped += static_cast<int64_t>(linesBefore - client.linesSent);
    counts_.droppedLines += static_cast<int64_t>(linesBefore - client.linesSent);
    client.linesSent = linesBefore;
    client.cursor = to;
    client.cut = client.cut || client.midLine;
    client.midLine = false;
}

// True when nothing of a notice is left unsent; false when the socket is
// full or the client gone, and the output waits.
bool ControlSocket::SendNotes(Client& client)
{
    for (;;) {
        if (client.noteSent == client.noteLength && (client.midLine || !ComposeNote(client)))
            return true;
        ssize_t sent = send(client.fd, client.note + client.noteSent, client.noteLength - client.noteSent, kSendFlags);
        if (sent < 0 && !Fd_WouldBlock())
            client.deaf = true;
        if (sent <= 0)
            return false;
        client.noteSent += static_cast<int>(sent);
        if (client.noteSent < client.noteLength)
            return false;
    }
}

// The lines it missed first, where they were missed; then one refusal for
// each over-long line.
bool ControlSocket::ComposeNote(Client& client)
{
    if (client.dropped > 0) {
        client.noteLength = std::snprintf(client.note, sizeof(client.note), kDropped, client.cut ? "\n" : "",
                                          static_cast<long long>(client.dropped));
        client.dropped = 0;
        client.cut = false;
    } else if (client.refusals > 0) {
        client.noteLength = std::snprintf(client.note, sizeof(client.note), "%s", kTooLong);
        --client.refusals;
    } else {
        return false;
    }
    client.noteSent = 0;
    return true;
}

void ControlSocket::Disconnect(Client& client, bool byLauncher)
{
    close(client.fd);
    client.fd = -1;
    --counts_.attached;
    if (byLauncher)
        ++counts_.disconnected;
}

// The log says who typed what, before the engine answers it.
const char* ControlSocket::TakeLine()
{
    if (lineCount_ == 0)
        return nullptr;
    const QueuedLine& queued = lines_[lineHead_];
    lineHead_ = (lineHead_ + 1) % kQueuedLines;
    --lineCount_;
    Sys_Printf("uid %u> %s\n", queued.uid, queued.text);
    std::snprintf(taken_, sizeof(taken_), "%s", queued.text);
    Telemetry_LineTyped(LineSource::kControl);
    return taken_;
}

// --- closing ----------------------------------------------------------------------

bool ControlSocket::Ours() const
{
    struct stat status {};
    return lstat(address_.sun_path, &status) == 0 && status.st_dev == device_ &&
           status.st_ino == inode_;
}

void ControlSocket::Close()
{
    if (listener_ < 0)
        return;
    for (Client& client : clients_)
        if (client.fd >= 0)
            Disconnect(client, false);
    if (Ours())
        unlink(address_.sun_path);
    close(listener_);
    listener_ = -1;
}

}  // namespace

IListener* Control_Open(const char* path, bool forGroup)
{
    return s_control.Open(path, forGroup) ? &s_control : nullptr;
}

const ControlCounts& Control_Counts()
{
    return s_control.Counts();
}
