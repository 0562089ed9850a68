#include "cmdline/command_line.h"

#include "common/text_builder.h"
#include "output/sys_printf.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

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
FileCopy CopyParameterFile(const char* fileName, size_t room, TextBuilder& out)
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
const char* ExpandReference(const char* name, TextBuilder& out)
{
    char fileName[CCommandLine::kFileNameSize];
    TextBuilder nameText(fileName, sizeof(fileName));
    const char* end = name;
    while (*end && *end != ' ')
        nameText.Put(*end++);
    const char* next = *end == ' ' ? end + 1 : end;
    // Room stays for the rest of the text, so that a file never pushes the
    // switches after it off the end of the line.
    size_t rest = std::strlen(next);
    size_t room = out.Room() > rest ? out.Room() - rest : 0;
    // A name longer than the buffer is never opened cut short: that could
    // read another file than the operator named.
    FileCopy copy = nameText.Cut() ? FileCopy::kMissing : CopyParameterFile(fileName, room, out);
    if (copy != FileCopy::kCopied) {
        Output_Print("Parameter file '");
        Output_Print(fileName);
        Output_Print(copy == FileCopy::kMissing ? "' not found, skipping..."
                                             : "' too long for the command line, skipping...\n");
    }
    return next;
}

void Expand(const char* text, TextBuilder& out)
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
    TextBuilder out(value, sizeof(value));
    unsigned length = 0;
    const char* word = CmdLine_ValueWord(match, &length);
    for (unsigned i = 0; i < length; ++i)
        out.Put(word[i]);
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
    TextBuilder out(expanded, sizeof(expanded));
    Expand(copy, out);
    commandLine = NewString(out.Text());
    delete[] copy;
}

void CCommandLine::CreateCmdLine(int argc, const char** argv)
{
    char joined[kJoinedSize];
    TextBuilder out(joined, sizeof(joined));
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i] ? argv[i] : "";
        bool quote = std::strchr(argument, ' ') != nullptr;
        if (i > 0)
            out.Put(' ');
        if (quote)
            out.Put('"');
        out.Add(argument);
        if (quote)
            out.Put('"');
    }
    CreateCmdLine(out.Text());
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
