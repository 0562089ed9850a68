// Fuzzes the Agones client's reading of an answer's status line, with the
// input as the bytes a hostile sidecar sent, in a buffer of exactly their
// length so that a read past it stops the run.
//
// What the client relies on: no line yet means "not yet" and nothing else
// does; a code is given only for "HTTP/1.D NNN" followed by a space or the
// end of the line; and once the line is complete, bytes after it change
// nothing, since the client decides as soon as it has the line.
#include "service/supervisors/http_post.h"

#include "fuzz_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// The line holds the code it was read as, in the only form accepted.
void CheckAccepted(const char* reply, size_t lineLength, int code)
{
    FUZZ_CHECK(code >= 1 && code <= 999);
    FUZZ_CHECK(lineLength >= 12);
    FUZZ_CHECK(std::memcmp(reply, "HTTP/1.", 7) == 0 && Digit(reply[7]) && reply[8] == ' ');
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%03d", code);
    FUZZ_CHECK(std::memcmp(reply + 9, digits, 3) == 0);
    FUZZ_CHECK(lineLength == 12 || reply[12] == ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> reply(data, data + size);
    int length = static_cast<int>(size);
    int code = Http_StatusCode(reply.data(), length);
    const void* newline = size > 0 ? std::memchr(reply.data(), '\n', size) : nullptr;
    if (!newline) {
        FUZZ_CHECK(code == kHttpNotYet);
        return 0;
    }
    size_t lineEnd = static_cast<size_t>(static_cast<const char*>(newline) - reply.data());
    // The same answer with nothing after its line, read from a buffer of
    // exactly that length.
    std::vector<char> line(reply.begin(), reply.begin() + static_cast<long>(lineEnd) + 1);
    FUZZ_CHECK(Http_StatusCode(line.data(), static_cast<int>(line.size())) == code);
    if (lineEnd > 0)
        FUZZ_CHECK(Http_StatusCode(line.data(), static_cast<int>(lineEnd)) == kHttpNotYet);
    size_t lineLength = lineEnd > 0 && reply[lineEnd - 1] == '\r' ? lineEnd - 1 : lineEnd;
    if (code != 0)
        CheckAccepted(reply.data(), lineLength, code);
    return 0;
}
