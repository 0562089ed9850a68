#include "common/http_text.h"

#include <cstring>

namespace {

const char kVersionPrefix[] = "HTTP/1.";
constexpr size_t kVersionPrefixLength = sizeof(kVersionPrefix) - 1;

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool HttpText::Is(const char* word) const
{
    return length == std::strlen(word) && std::memcmp(text, word, length) == 0;
}

bool Http_NextLine(const char* data, size_t length, size_t& start, HttpText& line)
{
    const void* found = start < length ? std::memchr(data + start, '\n', length - start) : nullptr;
    if (!found)
        return false;
    size_t end = static_cast<size_t>(static_cast<const char*>(found) - data);
    line = {data + start, end - start};
    if (line.length > 0 && line.text[line.length - 1] == '\r')
        --line.length;
    start = end + 1;
    return true;
}

bool Http_TakeWord(HttpText& rest, HttpText& word)
{
    const void* found = rest.length > 0 ? std::memchr(rest.text, ' ', rest.length) : nullptr;
    if (!found) {
        word = rest;
        rest = {rest.text + rest.length, 0};
        return false;
    }
    size_t end = static_cast<size_t>(static_cast<const char*>(found) - rest.text);
    word = {rest.text, end};
    rest = {rest.text + end + 1, rest.length - end - 1};
    return true;
}

int Http_MinorVersion(const HttpText& word)
{
    if (word.length != kVersionPrefixLength + 1 ||
        std::memcmp(word.text, kVersionPrefix, kVersionPrefixLength) != 0 ||
        !Digit(word.text[kVersionPrefixLength]))
        return -1;
    return word.text[kVersionPrefixLength] - '0';
}
