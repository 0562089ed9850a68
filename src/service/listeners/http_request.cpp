#include "service/listeners/http_request.h"

#include <cstring>

namespace {

constexpr int kIncomplete = 0;
constexpr int kOk = 200;
constexpr int kBadRequest = 400;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kHeadTooLarge = 431;

const char kPath[] = "/metrics";

// The end of the head: the byte after the first empty line ("\n" or
// "\r\n"), or 0 when there is none within length.
size_t HeadEnd(const char* data, size_t length)
{
    for (size_t start = 0; start < length;) {
        const void* newline = std::memchr(data + start, '\n', length - start);
        if (!newline)
            return 0;
        size_t end = static_cast<const char*>(newline) - data;
        if (start > 0 && (end == start || (end == start + 1 && data[start] == '\r')))
            return end + 1;
        start = end + 1;
    }
    return 0;
}

struct Span {
    const char* text;
    size_t length;

    bool Is(const char* word) const { return length == std::strlen(word) && std::memcmp(text, word, length) == 0; }
};

// Splits the request line "METHOD SP TARGET SP VERSION" at single spaces;
// false when it has another shape.
bool SplitRequestLine(const char* line, size_t length, Span (&parts)[3])
{
    size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        const void* space = part < 2 ? std::memchr(line + at, ' ', length - at) : nullptr;
        size_t end = space ? static_cast<size_t>(static_cast<const char*>(space) - line) : length;
        if ((part < 2 && !space) || end == at)
            return false;
        parts[part] = {line + at, end - at};
        at = end + 1;
    }
    return true;
}

// The target names the page: the path itself, with or without a query.
bool NamesThePage(const Span& target)
{
    const size_t pathLength = sizeof(kPath) - 1;
    return target.length >= pathLength && std::memcmp(target.text, kPath, pathLength) == 0 &&
           (target.length == pathLength || target.text[pathLength] == '?');
}

int Judge(const Span (&parts)[3])
{
    if (!parts[2].Is("HTTP/1.1") && !parts[2].Is("HTTP/1.0"))
        return kBadRequest;
    if (!parts[0].Is("GET") && !parts[0].Is("HEAD"))
        return kMethodNotAllowed;
    return NamesThePage(parts[1]) ? kOk : kNotFound;
}

}  // namespace

HttpJudgement Http_Judge(const char* data, size_t length)
{
    HttpJudgement judgement;
    size_t end = HeadEnd(data, length < kHttpMaxHead ? length : kHttpMaxHead);
    if (end == 0) {
        judgement.status = length >= kHttpMaxHead ? kHeadTooLarge : kIncomplete;
        return judgement;
    }
    size_t lineLength = static_cast<const char*>(std::memchr(data, '\n', end)) - data;
    if (lineLength > 0 && data[lineLength - 1] == '\r')
        --lineLength;
    Span parts[3];
    if (!SplitRequestLine(data, lineLength, parts)) {
        judgement.status = kBadRequest;
        return judgement;
    }
    judgement.bodyWanted = !parts[0].Is("HEAD");
    judgement.status = Judge(parts);
    return judgement;
}
