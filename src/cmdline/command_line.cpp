#include "cmdline/command_line.h"

#include "output/sys_printf.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Appends into a fixed buffer, always keeping room for the terminator; what
// does not fit is dropped.
class BoundedText {
public:
    BoundedText(char* data, size_t size) : data_(data), size_(size) { data_[0] = '\0'; }

    bool Full() const { return length_ + 1 >= size_; }
    void Put(char c)
    {
        if (!Full())
            data_[length_++] = c;
    }
    void Put(const char* text)
    {
        while (*text && !Full())
            Put(*text++);
    }
    size_t Length() const { return length_; }
    // How many more characters fit.
    size_t Room() const { return size_ - 1 - length_; }
    // Drops what was put after the first length characters.
    void Truncate(size_t length)
    {
        if (length < length_)
            length_ = length;
    }
    const char* Finish()
    {
        data_[length_] = '\0';
        return data_;
    }

private:
    char* data_;
    size_t size_;
    size_t length_ = 0;
};

char* NewString(const char* text)
{
    size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

enum class FileCopy { kCopied, kMissing, kTooLong };

// Copies the contents of the named file into out, followed by one space.
// Newlines and NULs become spaces: a NUL would end the command line there
// and drop everything after it without a word. Contents and space take at
// most room characters; a file that needs more adds nothing, and reading
// stops there, so that an endless file (/dev/zero) ends too.
FileCopy CopyParameterFile(const char* fileName, size_t room, BoundedText& out)
{
    FILE* file = std::fopen(fileName, "r");
    if (!file)
        return FileCopy::kMissing;
    size_t start = out.Length();
    int c = std::fgetc(file);
    for (; c != EOF && out.Length() + 1 < start + room; c = std::fgetc(file))
        out.Put(c == '\n' || c == '\0' ? ' ' : static_cast<char>(c));
    std::fclose(file);
    if (c != EOF || room == 0) {
        out.Truncate(start);
        return FileCopy::kTooLong;
    }
    out.Put(' ');
    return FileCopy::kCopied;
}

// Expands the parameter-file reference whose name starts at name (just
// after the "@"). Only a space ends the name; it is consumed. Returns where
// the scan goes on.
const char* ExpandReference(const char* name, BoundedText& out)
{
    char fileName[CCommandLine::kFileNameSize];
    BoundedText nameText(fileName, sizeof(fileName));
    const char* end = name;
    while (*end && *end != ' ')
        nameText.Put(*end++);
    nameText.Finish();
    const char* next = *end == ' ' ? end + 1 : end;
    // Room stays for the rest of the text, so that a file never pushes the
    // switches after it off the end of the line.
    size_t rest = std::strlen(next);
    size_t room = out.Room() > rest ? out.Room() - rest : 0;
    // A name longer than the buffer is never opened cut short: that could
    // read another file than the operator named.
    bool cut = static_cast<size_t>(end - name) != nameText.Length();
    FileCopy copy = cut ? FileCopy::kMissing : CopyParameterFile(fileName, room, out);
    if (copy != FileCopy::kCopied) {
        Output_Print("Parameter file '");
        Output_Print(fileName);
        Output_Print(copy == FileCopy::kMissing ? "' not found, skipping..."
                                             : "' too long for the command line, skipping...\n");
    }
    return next;
}

void Expand(const char* text, BoundedText& out)
{
    bool tokenStart = true;
    const char* p = text;
    while (*p) {
        if (tokenStart && *p == '@') {
            p = ExpandReference(p + 1, out);
            continue;
        }
        out.Put(*p);
        tokenStart = std::isspace(static_cast<unsigned char>(*p)) != 0;
        ++p;
    }
}

// The word after the first space at or after match, cut to the value
// buffer. Empty when there is none.
void CopyValue(const char* match, char (&value)[CCommandLine::kValueSize])
{
    BoundedText out(value, sizeof(value));
    unsigned length = 0;
    const char* word = CmdLine_ValueWord(match, &length);
    for (unsigned i = 0; i < length; ++i)
        out.Put(word[i]);
    out.Finish();
}

void DropTrailingSpaces(char* text)
{
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        text[--length] = '\0';
}

}  // namespace

const char* CmdLine_ValueWord(const char* match, unsigned* length)
{
    const char* space = std::strchr(match, ' ');
    const char* word = space ? space + 1 : match + std::strlen(match);
    *length = static_cast<unsigned>(std::strcspn(word, " "));
    return word;
}

CCommandLine::~CCommandLine()
{
    delete[] commandLine;
}

void CCommandLine::CreateCmdLine(const char* text)
{
    // The copy is taken before the old string goes, so text may even point
    // into it.
    char* copy = NewString(text ? text : "");
    delete[] commandLine;

    char expanded[kExpandedSize];
    BoundedText out(expanded, sizeof(expanded));
    Expand(copy, out);
    commandLine = NewString(out.Finish());
    delete[] copy;
}

void CCommandLine::CreateCmdLine(int argc, const char** argv)
{
    char joined[kJoinedSize];
    BoundedText out(joined, sizeof(joined));
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i] ? argv[i] : "";
        bool quote = std::strchr(argument, ' ') != nullptr;
        if (i > 0)
            out.Put(' ');
        if (quote)
            out.Put('"');
        out.Put(argument);
        if (quote)
            out.Put('"');
    }
    CreateCmdLine(out.Finish());
}

const char* CCommandLine::GetCmdLine()
{
    return commandLine;
}

const char* CCommandLine::CheckParm(const char* name, char** value)
{
    // Shared by every call: the caller uses or copies a value before asking
    // for the next one.
    static char s_value[kValueSize];

    if (!commandLine || !name)
        return nullptr;
    const char* match = std::strstr(commandLine, name);
    if (!match)
        return nullptr;
    if (value) {
        CopyValue(match, s_value);
        *value = s_value;
    }
    return match;
}

void CCommandLine::RemoveParm(const char* name)
{
    if (!commandLine || !name || !*name)
        return;
    // Each pass removes at least the match's first character, so it ends.
    for (char* match = std::strstr(commandLine, name); match;
         match = std::strstr(commandLine, name)) {
        char* stop = std::strpbrk(match + 1, "-+");
        if (stop)
            std::memmove(match, stop, std::strlen(stop) + 1);
        else
            *match = '\0';
    }
    DropTrailingSpaces(commandLine);
}

void CCommandLine::AppendParm(const char* name, const char* value)
{
    if (!name)
        return;
    const char* rest = "";
    if (commandLine) {
        RemoveParm(name);
        rest = commandLine;
    }
    size_t size = std::strlen(rest) + 1 + std::strlen(name) + (value ? 1 + std::strlen(value) : 0) + 1;
    char* built = new char[size];
    std::snprintf(built, size, "%s%s%s%s%s", rest, commandLine ? " " : "", name,
                  value ? " " : "", value ? value : "");
    delete[] commandLine;
    commandLine = built;
}

void CCommandLine::SetParm(const char* name, const char* value)
{
    RemoveParm(name);
    AppendParm(name, value);
}

void CCommandLine::SetParm(const char* name, int value)
{
    char number[kNumberSize];
    std::snprintf(number, sizeof(number), "%d", value);
    SetParm(name, number);
}

// Named by the design: the Hungarian-style name that the launcher's design
// gives it. Nothing outside the process reaches it: the executable exports
// no symbol.
static CCommandLine g_CmdLine;
ICommandLine* cmdline = &g_CmdLine;
