// The text of an HTTP/1.x head, as both ends of the launcher's HTTP read
// it: the metrics endpoint a request, the sidecar client an answer. Its
// lines, and the words of its first line (the request line or the status
// line). Pure and bounded: nothing is read past the length given.
#ifndef TARN_COMMON_HTTP_TEXT_H
#define TARN_COMMON_HTTP_TEXT_H

#include <cstddef>

// A piece of a head, not terminated.
struct HttpText {
    const char* text = nullptr;
    size_t length = 0;

    bool Is(const char* word) const;
};

// The line that begins at start within the length bytes of data, without
// its "\n" or "\r\n"; start moves past it. False while no "\n" ends it.
bool Http_NextLine(const char* data, size_t length, size_t& start, HttpText& line);

// The word before the first space of rest, and rest what follows that
// space. False when rest holds no space: the word is then all of rest, and
// rest is empty.
bool Http_TakeWord(HttpText& rest, HttpText& word);

// The minor version that a version word names ("HTTP/1.1" gives 1), or -1
// when the word is no "HTTP/1." and one digit.
int Http_MinorVersion(const HttpText& word);

#endif
