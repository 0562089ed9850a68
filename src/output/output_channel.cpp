#include "output/output_channel.h"

#include "common/ring.h"
#include "common/write_all.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Kept free at all times for the notice of a drop, so that it always fits:
// a newline, the text and a count of up to 19 digits.
constexpr size_t kNoticeRoom = 64;

size_t CountLines(const char* text, size_t length)
{
    return static_cast<size_t>(std::count(text, text + length, '\n'));
}

// One attempt to write, retried only when a signal interrupted it: the
// bytes written, 0 when the destination takes nothing now, -1 on an error
// that loses the output (the reader has gone, the disk is full).
long Attempt(int fd, Sink sink, const char* text, size_t length)
{
    for (;;) {
        ssize_t written = sink == Sink::kSocket
                              ? send(fd, text, length, MSG_DONTWAIT | MSG_NOSIGNAL)
                              : write(fd, text, length);
        if (written >= 0)
            return static_cast<long>(written);
        if (errno != EINTR)
            return Fd_WouldBlock() ? 0 : -1;
    }
}

// A pipe that others share keeps its blocking mode; a write of at most
// PIPE_BUF bytes does not wait once poll has seen room for it.
long AttemptPolled(int fd, const char* text, size_t length)
{
    pollfd ready{fd, POLLOUT, 0};
    if (poll(&ready, 1, 0) <= 0)
        return 0;
    return Attempt(fd, Sink::kPolled, text, std::min<size_t>(length, PIPE_BUF));
}

// All of it, as a plain write always did: a regular file does not make a
// frame wait on anyone.
long AttemptAll(int fd, const char* text, size_t length)
{
    size_t done = 0;
    while (done < length) {
        long written = Attempt(fd, Sink::kBlocking, text + done, length - done);
        if (written <= 0)
            return -1;
        done += static_cast<size_t>(written);
    }
    return static_cast<long>(done);
}

}  // namespace

void OutputChannel::Attach(int descriptor, Sink sink)
{
    fd_ = descriptor;
    sink_ = sink;
    blocked_ = false;
}

void OutputChannel::Write(const char* text, size_t length)
{
    if (length == 0)
        return;
    if (tap_)
        tap_(text, length);
    if (sink_ == Sink::kDiscard)
        return;
    if (dropping_) {
        // A drop ends only at the start of a line, and only where the line
        // and the notice both fit.
        if (lineOpen_ || !MakeRoom(length + kNoticeRoom)) {
            Drop(text, length);
            return;
        }
        QueueNotice();
    }
    Accept(text, length);
}

// Writes at once when nothing waits before it; otherwise the bytes join the
// queue, or start a drop when the queue has no room for them.
void OutputChannel::Accept(const char* text, size_t length)
{
    size_t done = 0;
    if (used_ == 0 && !blocked_) {
        long written = Put(text, length);
        if (written < 0) {
            StartDropping();
            Drop(text, length);
            return;
        }
        done = static_cast<size_t>(written);
        NoteLines(text, done);
        writtenOpen_ = done > 0 ? text[done - 1] != '\n' : writtenOpen_;
        if (done == length)
            return;
        blocked_ = true;
    }
    if (!MakeRoom(length - done)) {
        StartDropping();
        Drop(text + done, length - done);
        return;
    }
    Queue(text + done, length - done);
    NoteLines(text + done, length - done);
    if (!blocked_)
        Drain();
}

// After a line the destination got only part of, the last words start a
// line of their own.
void OutputChannel::WriteLast(const char* text, size_t length) const
{
    if (writtenOpen_)
        WriteNow("\n", 1);
    WriteNow(text, length);
}

void OutputChannel::WriteNow(const char* text, size_t length) const
{
    if (sink_ == Sink::kBlocking)
        AttemptAll(fd_, text, length);
    else if (sink_ == Sink::kPolled)
        AttemptPolled(fd_, text, length);
    else if (sink_ != Sink::kDiscard)
        Attempt(fd_, sink_, text, length);
}

void OutputChannel::Flush()
{
    blocked_ = false;
    Drain();
}

// Writes the queue until it is empty or the destination stops taking it.
// With the queue empty after a drop, the notice goes out on its own.
void OutputChannel::Drain()
{
    if (used_ == 0) {
        if (!dropping_ || lineOpen_ || droppedRun_ == 0)
            return;
        QueueNotice();
    }
    while (used_ > 0) {
        long written = PutQueued();
        if (written < 0) {
            LoseQueued();
            return;
        }
        if (written == 0) {
            blocked_ = true;
            return;
        }
        Consume(static_cast<size_t>(written));
    }
}

void OutputChannel::Conclude()
{
    if (!dropping_)
        return;
    if (lineOpen_) {
        // The line that was being dropped will never be finished.
        ++droppedRun_;
        ++droppedTotal_;
        lineOpen_ = false;
    }
    if (droppedRun_ > 0)
        QueueNotice();
}

// Under pressure the reader may have taken more since the frame's flush:
// one more try of it before anything is dropped.
bool OutputChannel::MakeRoom(size_t length)
{
    if (!Fits(length) && blocked_) {
        blocked_ = false;
        Drain();
    }
    return Fits(length);
}

bool OutputChannel::Fits(size_t length) const
{
    return length + kNoticeRoom <= size_ - used_;
}

void OutputChannel::Queue(const char* text, size_t length)
{
    Ring_Write(ring_, size_, (head_ + used_) % size_, text, length);
    used_ += length;
    accepted_ += length;
}

void OutputChannel::Consume(size_t length)
{
    if (length > 0)
        writtenOpen_ = ring_[(head_ + length - 1) % size_] != '\n';
    head_ = (head_ + length) % size_;
    used_ -= length;
    written_ += length;
}

// Keeps track of whether the bytes accepted so far end inside a line.
void OutputChannel::NoteLines(const char* text, size_t length)
{
    if (length == 0)
        return;
    const char* last = static_cast<const char*>(memrchr(text, '\n', length));
    if (last) {
        openLength_ = static_cast<size_t>(text + length - last - 1);
    } else {
        openLength_ += length;
    }
    lineOpen_ = openLength_ > 0;
}

// A line whose start still waits in the queue is taken back whole, so no
// line is cut; one that has partly gone out can only be ended.
void OutputChannel::StartDropping()
{
    dropping_ = true;
    if (!lineOpen_)
        return;
    if (openLength_ <= used_) {
        used_ -= openLength_;
        accepted_ -= openLength_;
    } else {
        cut_ = true;
    }
    openLength_ = 0;
}

void OutputChannel::Drop(const char* text, size_t length)
{
    auto lines = static_cast<int64_t>(CountLines(text, length));
    droppedRun_ += lines;
    droppedTotal_ += lines;
    lineOpen_ = text[length - 1] != '\n';
}

void OutputChannel::QueueNotice()
{
    char notice[kNoticeRoom];
    int length = std::snprintf(notice, sizeof(notice), "%sOutput was blocked: %lld lines dropped.\n",
                               cut_ ? "\n" : "", static_cast<long long>(droppedRun_));
    Queue(notice, static_cast<size_t>(length));
    noticeEnd_ = accepted_;
    noticeCount_ = droppedRun_;
    dropping_ = false;
    cut_ = false;
    droppedRun_ = 0;
    lineOpen_ = false;
    openLength_ = 0;
}

// The destination failed for good: what waited is lost and counted, and a
// notice still waiting among it is owed again.
void OutputChannel::LoseQueued()
{
    size_t first = Ring_Piece(size_, head_, used_);
    auto lines = static_cast<int64_t>(CountLines(ring_ + head_, first) +
                                      CountLines(ring_, used_ - first));
    bool noticeLost = written_ < noticeEnd_;
    if (noticeLost)
        lines -= 1;
    droppedTotal_ += lines;
    droppedRun_ += lines + (noticeLost ? noticeCount_ : 0);
    Consume(used_);
    dropping_ = true;
}

long OutputChannel::Put(const char* text, size_t length)
{
    switch (sink_) {
    case Sink::kBlocking:
        return AttemptAll(fd_, text, length);
    case Sink::kPolled:
        return AttemptPolled(fd_, text, length);
    case Sink::kDiscard:
        return static_cast<long>(length);
    default:
        return Attempt(fd_, sink_, text, length);
    }
}

long OutputChannel::PutQueued()
{
    return Put(ring_ + head_, Ring_Piece(size_, head_, used_));
}
