#include "service/listeners/http_accept.h"

#include <cstring>

namespace {

const char kProtobufType[] = "application/vnd.google.protobuf";
const char kProtoName[] = "io.prometheus.client.MetricFamily";
const char kEncoding[] = "delimited";

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsIgnoringCase(const HttpText& text, const char* word)
{
    if (text.length != std::strlen(word))
        return false;
    for (size_t i = 0; i < text.length; ++i)
        if (Lower(text.text[i]) != word[i])
            return false;
    return true;
}

// Without the spaces and tabs around it, and without the quotes of a
// quoted value.
HttpText Trim(HttpText text)
{
    while (text.length > 0 && (text.text[0] == ' ' || text.text[0] == '\t'))
        ++text.text, --text.length;
    while (text.length > 0 && (text.text[text.length - 1] == ' ' || text.text[text.length - 1] == '\t'))
        --text.length;
    if (text.length >= 2 && text.text[0] == '"' && text.text[text.length - 1] == '"')
        text = {text.text + 1, text.length - 2};
    return text;
}

// The piece of rest before separator (all of rest when there is none),
// trimmed; rest moves past the separator.
HttpText Take(HttpText& rest, char separator)
{
    const void* found = rest.length > 0 ? std::memchr(rest.text, separator, rest.length) : nullptr;
    size_t end = found ? static_cast<size_t>(static_cast<const char*>(found) - rest.text) : rest.length;
    HttpText piece = Trim({rest.text, end});
    rest = found ? HttpText{rest.text + end + 1, rest.length - end - 1} : HttpText{rest.text + end, 0};
    return piece;
}

// A q-value of "0", "0.", "0.0" and so on.
bool IsZero(const HttpText& q)
{
    bool zero = q.length > 0 && q.text[0] == '0';
    for (size_t i = 1; i < q.length && zero; ++i)
        zero = (i == 1 && q.text[i] == '.') || (i > 1 && q.text[i] == '0');
    return zero;
}

// One media range: a type, then parameters after semicolons.
bool IsProtobufPage(HttpText range)
{
    if (!IsIgnoringCase(Take(range, ';'), kProtobufType))
        return false;
    bool proto = false, delimited = false, refused = false;
    while (range.length > 0) {
        HttpText value = Take(range, ';');
        HttpText name = Take(value, '=');
        value = Trim(value);
        proto = proto || (IsIgnoringCase(name, "proto") && value.Is(kProtoName));
        delimited = delimited || (IsIgnoringCase(name, "encoding") && value.Is(kEncoding));
        refused = refused || (IsIgnoringCase(name, "q") && IsZero(value));
    }
    return proto && delimited && !refused;
}

}  // namespace

bool Http_AcceptsProtobufPage(HttpText line)
{
    const void* colon = line.length > 0 ? std::memchr(line.text, ':', line.length) : nullptr;
    if (!colon || !IsIgnoringCase(Take(line, ':'), "accept"))
        return false;
    HttpText value = line;
    while (value.length > 0)
        if (IsProtobufPage(Take(value, ',')))
            return true;
    return false;
}
