// A small HTTP/1.1 client for one POST at a time to a port on 127.0.0.1,
// for the sidecars the launcher reports to. No call waits: the connect and
// the I/O are non-blocking, and the caller drives an exchange by calling
// Advance until it ends, from the frame loop or from a bounded wait of its
// own. The request and the start of the answer live in fixed buffers.
#ifndef TARN_SERVICE_SUPERVISORS_HTTP_POST_H
#define TARN_SERVICE_SUPERVISORS_HTTP_POST_H

// Room for a request: a path and a few short headers.
constexpr int kHttpRequestSize = 256;
// The answer is read only as far as its status line.
constexpr int kHttpReplySize = 128;

// Writes into out a POST of path to 127.0.0.1:port with the body "{}" as
// application/json, asking the server to close the connection after its
// answer; returns the length, or -1 when it does not fit.
int Http_FormatJsonPost(char (&out)[kHttpRequestSize], int port, const char* path);

// What Http_StatusCode gives while the status line has not all arrived.
constexpr int kHttpNotYet = -1;

// The status code of the length bytes of an answer that begin with a status
// line "HTTP/1.x NNN" (followed by a space or the end of the line);
// kHttpNotYet while that line is incomplete, 0 when it is no such line.
int Http_StatusCode(const char* reply, int length);

enum class HttpProgress {
    kPending,    // nothing more can happen without waiting
    kSucceeded,  // a 2xx status line arrived; the connection is closed
    kFailed,     // refused, reset, closed early or not 2xx; closed
};

// One exchange on one connection; at most one connection is open at a time.
class HttpPost {
public:
    // Opens a non-blocking, close-on-exec connection to 127.0.0.1:port for
    // request (which must outlive the exchange); false when no socket could
    // be started, and then nothing is open.
    bool Begin(int port, const char* request, int length);
    // Sends what it can and reads what has arrived, then returns at once.
    HttpProgress Advance();
    // Abandons the exchange; safe to call when nothing is open.
    void Close();

    // For a bounded wait: the descriptor (-1 when closed) and the poll
    // events the exchange waits for next.
    int Descriptor() const { return fd_; }
    short Awaited() const;

private:
    HttpProgress Fail();
    HttpProgress Send();
    HttpProgress Receive();

    int fd_ = -1;
    const char* request_ = nullptr;  // not owned
    int length_ = 0;                 // of request_
    int sent_ = 0;                   // bytes of request_ sent so far
    char reply_[kHttpReplySize] = {};
    int received_ = 0;               // bytes of reply_ filled
};

#endif
