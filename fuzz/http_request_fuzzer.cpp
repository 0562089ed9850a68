// Fuzzes the metrics endpoint's judgement of a request head as the endpoint
// meets it: the bytes arrive in pieces, and the head is judged again after
// each one.
//
// Input: the first byte is the piece length (0: all the rest at once); the
// rest is what the peer sends. The checks: a judgement, once made, stays
// the same however much more arrives; the head is incomplete exactly while
// no empty line has come within the first 4 KiB and fewer than 4 KiB have
// arrived, and too large exactly when 4 KiB have come without one; the
// page is served only for a request line that asks GET or HEAD of it.
#include "fuzz_check.h"
#include "service/listeners/http_request.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// A line that is empty, or only a carriage return, after the first line.
bool HasEmptyLine(const uint8_t* data, size_t length)
{
    for (size_t i = 0; i + 1 < length; ++i)
        if (data[i] == '\n' && (data[i + 1] == '\n' || (i + 2 < length && data[i + 1] == '\r' && data[i + 2] == '\n')))
            return true;
    return false;
}

bool StartsWith(const uint8_t* data, size_t length, const char* prefix)
{
    return length >= std::strlen(prefix) && std::memcmp(data, prefix, std::strlen(prefix)) == 0;
}

void CheckJudgement(const uint8_t* data, size_t length, const HttpJudgement& judgement)
{
    bool ended = HasEmptyLine(data, std::min(length, kHttpMaxHead));
    FUZZ_CHECK((judgement.status == 0) == (!ended && length < kHttpMaxHead));
    FUZZ_CHECK((judgement.status == 431) == (!ended && length >= kHttpMaxHead));
    const int known[] = {0, 200, 400, 404, 405, 431};
    FUZZ_CHECK(std::find(std::begin(known), std::end(known), judgement.status) != std::end(known));
    if (judgement.status == 200)
        FUZZ_CHECK(StartsWith(data, length, judgement.bodyWanted ? "GET /metrics" : "HEAD /metrics"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t piece = data[0] == 0 ? size : data[0];
    const uint8_t* sent = data + 1;
    size_t length = size - 1;
    HttpJudgement first;
    for (size_t arrived = std::min(piece, length);; arrived = std::min(arrived + piece, length)) {
        HttpJudgement judgement = Http_Judge(reinterpret_cast<const char*>(sent), arrived);
        CheckJudgement(sent, arrived, judgement);
        if (first.status == 0)
            first = judgement;
        FUZZ_CHECK(judgement.status == first.status && judgement.bodyWanted == first.bodyWanted);
        if (arrived == length)
            break;
    }
    return 0;
}
