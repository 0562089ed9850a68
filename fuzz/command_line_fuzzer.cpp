// Fuzzes the command line: parameter files whose names and contents come
// from the input, then any sequence of building, lookups and edits, on a
// fresh object per input.
//
// The input is a series of records separated by NUL bytes. A record is a
// kind letter and its fields; fields are separated by a newline, and the
// last field takes the rest of the record.
//   F name \n contents   writes a parameter file
//   C text               CreateCmdLine(text)
//   c                    CreateCmdLine(the current string; null before there is one)
//   V arg \n arg ...     CreateCmdLine(count, vector); no fields: a count of 0
//   K name               CheckParm(name, &value)
//   k name               CheckParm(name, null)
//   R name               RemoveParm(name)
//   A name [\n value]    AppendParm(name, value); no value field: null
//   S name [\n value]    SetParm(name, value); no value field: null
//   I name \n number     SetParm(name, the number as an int, clamped)
// Records of any other kind are skipped.
#include "cmdline/command_line.h"

#include "fuzz_check.h"
#include "private_dir.h"
#include "split.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kLongestLine = CCommandLine::kExpandedSize - 1;

// --- decoding the input -----------------------------------------------------------

struct Fields {
    std::string first;
    std::optional<std::string> rest;  // absent when the record has no newline
};

Fields SplitOnce(std::string_view body)
{
    size_t newline = body.find('\n');
    if (newline == std::string_view::npos)
        return {std::string(body), std::nullopt};
    return {std::string(body.substr(0, newline)), std::string(body.substr(newline + 1))};
}

// A slash in a text to be built becomes '_', so that every parameter-file
// name stays inside the private directory: a name reaching elsewhere could
// open something that blocks or never ends (standard input, a terminal, a
// FIFO).
std::string WithoutSlashes(std::string_view text)
{
    std::string result(text);
    std::replace(result.begin(), result.end(), '/', '_');
    return result;
}

int ClampedInt(const std::string& digits)
{
    long long number = std::strtoll(digits.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
}

// --- parameter files --------------------------------------------------------------

// The files one input wrote, removed when the input is done so that every
// input starts from an empty directory.
class ParameterFiles {
public:
    ~ParameterFiles()
    {
        for (const std::string& name : names_)
            unlink(name.c_str());
    }

    // Names with a slash would leave the private directory; they are not
    // written, and a reference to them finds nothing.
    void Write(const Fields& fields)
    {
        const std::string& name = fields.first;
        if (name.empty() || name.find('/') != std::string::npos)
            return;
        FILE* file = std::fopen(name.c_str(), "wb");
        if (!file)
            return;  // ".", "..", or a name too long for the file system
        const std::string contents = fields.rest.value_or("");
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
        names_.push_back(name);
    }

private:
    std::vector<std::string> names_;
};

// --- operations and their invariants --------------------------------------------------

// Either form of building leaves a string of at most 4095 characters.
void CheckBuilt(CCommandLine& line)
{
    const char* text = line.GetCmdLine();
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(std::strlen(text) <= kLongestLine);
}

// What follows the last parameter-file reference of text (all of it when it
// has none), scanned as the expansion does: it is copied unchanged.
std::string TailAfterReferences(const std::string& text)
{
    size_t tail = 0;
    bool tokenStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (tokenStart && text[i] == '@') {
            i = std::min(text.find(' ', i), text.size());  // the space that ends the name is consumed
            tail = i + 1;
            continue;
        }
        tokenStart = std::isspace(static_cast<unsigned char>(text[i])) != 0;
    }
    return tail < text.size() ? text.substr(tail) : "";
}

// A parameter file takes only the room that the rest of the text leaves, so
// a text that fits keeps all that follows its last reference.
void BuildFromText(CCommandLine& line, const std::string& text)
{
    line.CreateCmdLine(text.c_str());
    CheckBuilt(line);
    std::string built = line.GetCmdLine(), tail = TailAfterReferences(text);
    if (text.size() <= kLongestLine)
        FUZZ_CHECK(built.size() >= tail.size() && built.compare(built.size() - tail.size(), tail.size(), tail) == 0);
}

void BuildFromVector(CCommandLine& line, std::string_view body)
{
    std::vector<std::string> arguments;
    if (!body.empty()) {
        for (std::string_view argument : Fuzz_Split(body, '\n'))
            arguments.push_back(WithoutSlashes(argument));
    }
    std::vector<const char*> vector;
    for (const std::string& argument : arguments)
        vector.push_back(argument.c_str());
    line.CreateCmdLine(static_cast<int>(vector.size()), vector.data());
    CheckBuilt(line);
}

// A found name is the first occurrence; a value asked for is a word of at
// most 127 characters, terminated inside its buffer. Not found: the
// out-pointer is left alone.
void Check(CCommandLine& line, const std::string& name, bool wantValue)
{
    const char* text = line.GetCmdLine();
    char untouched = '\0';
    char* value = &untouched;
    const char* match = line.CheckParm(name.c_str(), wantValue ? &value : nullptr);
    if (!match) {
        FUZZ_CHECK(value == &untouched);
        FUZZ_CHECK(!text || !std::strstr(text, name.c_str()));
        return;
    }
    FUZZ_CHECK(text && match == std::strstr(text, name.c_str()));
    if (!wantValue)
        return;
    FUZZ_CHECK(value != &untouched && value != nullptr);
    FUZZ_CHECK(std::memchr(value, '\0', CCommandLine::kValueSize) != nullptr);
    FUZZ_CHECK(std::strchr(value, ' ') == nullptr);
}

// Removal edits the same storage and never lengthens it; afterwards the name
// is gone and no space ends the string.
void Remove(CCommandLine& line, const std::string& name)
{
    const char* before = line.GetCmdLine();
    size_t oldLength = before ? std::strlen(before) : 0;
    line.RemoveParm(name.c_str());
    const char* after = line.GetCmdLine();
    FUZZ_CHECK(after == before);
    if (!after || name.empty())
        return;
    size_t newLength = std::strlen(after);
    FUZZ_CHECK(newLength <= oldLength);
    FUZZ_CHECK(std::strstr(after, name.c_str()) == nullptr);
    FUZZ_CHECK(newLength == 0 || after[newLength - 1] != ' ');
}

// After an append or a set the string ends with the switch (and its value),
// after a space, or is the switch alone when there was no string before.
void CheckAppended(CCommandLine& line, bool hadString, const std::string& tail)
{
    const char* text = line.GetCmdLine();
    FUZZ_CHECK(text != nullptr);
    size_t length = std::strlen(text);
    FUZZ_CHECK(length >= tail.size());
    FUZZ_CHECK(tail.compare(text + length - tail.size()) == 0);
    if (hadString)
        FUZZ_CHECK(length > tail.size() && text[length - tail.size() - 1] == ' ');
    else
        FUZZ_CHECK(length == tail.size());
}

std::string Tail(const std::string& name, const std::optional<std::string>& value)
{
    return value ? name + " " + *value : name;
}

void Append(CCommandLine& line, const Fields& fields, bool set)
{
    bool hadString = line.GetCmdLine() != nullptr;
    const char* value = fields.rest ? fields.rest->c_str() : nullptr;
    if (set)
        line.SetParm(fields.first.c_str(), value);
    else
        line.AppendParm(fields.first.c_str(), value);
    CheckAppended(line, hadString, Tail(fields.first, fields.rest));
}

void SetNumber(CCommandLine& line, const Fields& fields)
{
    bool hadString = line.GetCmdLine() != nullptr;
    int number = ClampedInt(fields.rest.value_or(""));
    line.SetParm(fields.first.c_str(), number);
    CheckAppended(line, hadString, fields.first + " " + std::to_string(number));
}

void Apply(CCommandLine& line, ParameterFiles& files, std::string_view record)
{
    if (record.empty())
        return;
    std::string_view body = record.substr(1);
    switch (record[0]) {
    case 'F': files.Write(SplitOnce(body)); break;
    case 'C': BuildFromText(line, WithoutSlashes(body)); break;
    case 'c':
        line.CreateCmdLine(line.GetCmdLine());
        CheckBuilt(line);
        break;
    case 'V': BuildFromVector(line, body); break;
    case 'K': Check(line, std::string(body), true); break;
    case 'k': Check(line, std::string(body), false); break;
    case 'R': Remove(line, std::string(body)); break;
    case 'A': Append(line, SplitOnce(body), false); break;
    case 'S': Append(line, SplitOnce(body), true); break;
    case 'I': SetNumber(line, SplitOnce(body)); break;
    default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    Fuzz_CreatePrivateDir(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PrivateDirVisit visit;
    ParameterFiles files;
    CCommandLine line;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::string_view record : Fuzz_Split(input, '\0'))
        Apply(line, files, record);
    return 0;
}
