#include "service/listeners/http_request.h"

#include "common/http_text.h"
#include "service/listeners/http_accept.h"

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
    size_t start = 0;
    HttpText line;
    for (bool first = true; Http_NextLine(data, length, start, line); first = false)
        if (!first && line.length == 0)
            return start;
    return 0;
}

// Splits the request line "METHOD SP TARGET SP VERSION" at single spaces;
// false when it has another shape.
bool SplitRequestLine(HttpText rest, HttpText (&parts)[3])
{
    if (!Http_TakeWord(rest, parts[0]) || !Http_TakeWord(rest, parts[1]))
        return false;
    parts[2] = rest;
    return parts[0].length > 0 && parts[1].length > 0 && parts[2].length > 0;
}

// The target names the page: the path itself, with or without a query.
bool NamesThePage(const HttpText& target)
{
    const size_t pathLength = sizeof(kPath) - 1;
    return target.length >= pathLength && std::memcmp(target.text, kPath, pathLength) == 0 &&
           (target.length == pathLength || target.text[pathLength] == '?');
}

int Judge(const HttpText (&parts)[3])
{
    int minor = Http_MinorVersion(parts[2]);
    if (minor != 0 && minor != 1)
        return kBadRequest;
    if (!parts[0].Is("GET") && !parts[0].Is("HEAD"))
        return kMethodNotAllowed;
    return NamesThePage(parts[1]) ? kOk : kNotFound;
}

// Whether any header field of the head, from start to end, asks for the
// protobuf page.
bool AsksForProtobuf(const char* data, size_t end, size_t start)
{
    HttpText line;
    while (Http_NextLine(data, end, start, line))
        if (Http_AcceptsProtobufPage(line))
            return true;
    return false;
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
    size_t start = 0;
    HttpText line;
    Http_NextLine(data, end, start, line);  // the head ends after its first line
    HttpText parts[3];
    if (!SplitRequestLine(line, parts)) {
        judgement.status = kBadRequest;
        return judgement;
    }
    judgement.bodyWanted = !parts[0].Is("HEAD");
    judgement.status = Judge(parts);
    judgement.protobufWanted = AsksForProtobuf(data, end, start);
    return judgement;
}
