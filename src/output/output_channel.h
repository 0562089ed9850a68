// One destination of the launcher's output (standard output, or the
// console's echo stream) and the bytes it could not take yet.
//
// Writing never waits on a destination that can push back (a pipe, a FIFO,
// a terminal, a socket): what it cannot take now waits in a fixed ring, in
// order, and goes out at the frame loop's next flushes. When the ring is
// full, whole lines are dropped and counted, and the place where they were
// lost gets the line "Output was blocked: N lines dropped." when output
// flows again. A regular file is written in full; output.h names the one
// case that is written blocking.
#ifndef TARN_OUTPUT_OUTPUT_CHANNEL_H
#define TARN_OUTPUT_OUTPUT_CHANNEL_H

#include <cstddef>
#include <cstdint>

// How a destination is written.
enum class Sink {
    kBlocking,     // a plain write until done: regular files, and anything unknown
    kNonBlocking,  // a description of the launcher's own with O_NONBLOCK set
    kSocket,       // send with MSG_DONTWAIT: the flag is per call, the description shared
    kPolled,       // a shared pipe: a zero-timeout poll, then at most PIPE_BUF bytes
    kDiscard,      // "/dev/null": nothing to write
};

class OutputChannel {
public:
    // Sees every byte written to the channel, whatever the destination
    // takes: what a stalled destination drops, its tap still gets.
    typedef void (*Tap)(const char* text, size_t length);

    // The ring is storage (not owned) of size bytes, which must outlive the
    // channel. Until Attach the channel writes to descriptor 1, blocking.
    constexpr OutputChannel(char* storage, size_t size, Tap tap = nullptr)
        : ring_(storage), size_(size), tap_(tap)
    {
    }
    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    void Attach(int descriptor, Sink sink);
    int Descriptor() const { return fd_; }
    Sink Kind() const { return sink_; }

    // Writes at once what the destination takes; queues or drops the rest.
    void Write(const char* text, size_t length);
    // The frame loop's safe point: writes what is queued, as far as the
    // destination takes it. Nothing queued costs no system call.
    void Flush();
    // True while bytes, or the notice of dropped lines, wait to go out.
    bool Pending() const { return used_ > 0 || (dropping_ && droppedRun_ > 0); }
    // Async-signal-safe: one attempt to write text past the queue, for the
    // last words of a process that ends, on a line of its own; what the
    // reader cannot take now is lost.
    void WriteLast(const char* text, size_t length) const;
    // At the end: the notice of a drop still under way joins the queue.
    void Conclude();
    // Lines dropped since the start.
    int64_t DroppedLines() const { return droppedTotal_; }

private:
    void Accept(const char* text, size_t length);
    void Drain();
    void Queue(const char* text, size_t length);
    void QueueNotice();
    void StartDropping();
    void Drop(const char* text, size_t length);
    void LoseQueued();
    bool MakeRoom(size_t length);
    bool Fits(size_t length) const;
    void NoteLines(const char* text, size_t length);
    long Put(const char* text, size_t length);
    long PutQueued();
    void Consume(size_t length);
    void WriteNow(const char* text, size_t length) const;

    char* ring_;                  // not owned
    size_t size_;
    Tap tap_;
    size_t head_ = 0;             // the first queued byte
    size_t used_ = 0;             // bytes queued
    int fd_ = 1;
    Sink sink_ = Sink::kBlocking;
    bool blocked_ = false;        // the destination refused since the last Flush
    bool lineOpen_ = false;       // the last byte accepted (or dropped) was not "\n"
    bool writtenOpen_ = false;    // the last byte written to the destination was not "\n"
    size_t openLength_ = 0;       // bytes of that open line accepted
    bool dropping_ = false;       // lines are being dropped
    bool cut_ = false;            // the drop began inside a line already partly written
    int64_t droppedRun_ = 0;      // lines of the drop under way
    int64_t droppedTotal_ = 0;
    uint64_t accepted_ = 0;       // bytes ever queued
    uint64_t written_ = 0;        // bytes of the queue ever written
    uint64_t noticeEnd_ = 0;      // accepted_ at the end of the last notice queued
    int64_t noticeCount_ = 0;     // the count that notice carries
};

#endif
