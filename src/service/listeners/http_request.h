// Judges the head of an HTTP/1.x request to the metrics endpoint, from the
// bytes a peer has sent so far: whether it is complete, and what to answer.
// Pure and bounded: it looks at no more than kHttpMaxHead bytes.
#ifndef TARN_SERVICE_LISTENERS_HTTP_REQUEST_H
#define TARN_SERVICE_LISTENERS_HTTP_REQUEST_H

#include <cstddef>

// The longest request head served: the request line, the header fields and
// the empty line that ends them.
constexpr size_t kHttpMaxHead = 4096;

struct HttpJudgement {
    // 0 while the head is incomplete; otherwise the status to answer: 200
    // for the page, 400 a request line that is no request line, 404 another
    // path, 405 a method other than GET or HEAD, 431 a head longer than
    // kHttpMaxHead.
    int status = 0;
    bool bodyWanted = true;  // false for HEAD
    // An Accept header field asks for the page in Prometheus's protobuf
    // format (http_accept.h); the text page otherwise.
    bool protobufWanted = false;
};

// Judges the first length bytes that a peer sent.
HttpJudgement Http_Judge(const char* data, size_t length);

#endif
