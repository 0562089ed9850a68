// Fuzzes the line editor's keys, Tab completion among them, against a back
// end that checks every text it is given and a completion provider whose
// answers come from the input. The terminal console runs without a
// provider, so completion is reached only here.
//
// Input: two bytes of output width (big-endian; below 2 counts as 2, the
// narrowest a terminal reports), then one key per byte:
//   1 up, 2 down, 3 right, 4 left, 8 and 127 Backspace, 10 Enter,
//   32 to 126 that character typed;
//   9 Tab: the provider's completions follow, up to a NUL byte or the end,
//     separated by byte 31; none when nothing follows. Each is the line
//     followed by its bytes (an honest provider) or, when it starts with
//     byte 30, its bytes alone (a provider breaking its contract, such as
//     a completion shorter than the line);
//   6 Print: the message follows, up to a NUL byte or the end.
// Other bytes are skipped.
#include "common/object_list.h"
#include "console/base_system.h"
#include "console/text_console.h"
#include "console_probe.h"
#include "fuzz_check.h"
#include "split.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr uint8_t kUp = 1;
constexpr uint8_t kDown = 2;
constexpr uint8_t kRight = 3;
constexpr uint8_t kLeft = 4;
constexpr uint8_t kPrint = 6;
constexpr uint8_t kBackspace = 8;
constexpr uint8_t kTab = 9;
constexpr uint8_t kEnter = 10;
constexpr uint8_t kDelete = 127;
constexpr char kLiteral = 30;
constexpr char kNextCompletion = 31;
constexpr int kNarrowest = 2;

// --- the back end -----------------------------------------------------------------

// Writes nothing; checks that every text it is given can be read by the
// length convention, and that no text taken from the line buffer reaches
// past it (an overrun inside the object that the address checks miss).
class CheckingConsole : public CTextConsole {
public:
    void PrintRaw(const char* text, int length) override { Read(text, length); }
    void Echo(const char* text, int length) override { Read(text, length); }
    char* GetLine() override { return nullptr; }
    int GetWidth() override { return width_; }

    void SetWidth(int width) { width_ = width; }

private:
    void Read(const char* text, int length)
    {
        if (length < 0)
            return;
        size_t size = length > 0 ? static_cast<size_t>(length) : std::strlen(text) + 1;
        const char* bufferEnd = lineBuffer + kLineSize;
        if (text >= lineBuffer && text < bufferEnd)
            FUZZ_CHECK(size <= static_cast<size_t>(bufferEnd - text));
        for (size_t i = 0; i < size; ++i)
            sink_ = sink_ + static_cast<unsigned char>(text[i]);
    }

    int width_ = 80;
    volatile unsigned sink_ = 0;  // makes every byte a real read
};

ConsoleProbe<CheckingConsole> s_console;

// --- the provider -----------------------------------------------------------------

// Answers the next Tab with the completions the input gave for it. The
// strings live until the following Tab, longer than the editor may use them.
class ScriptedProvider : public IBaseSystem {
public:
    void Script(std::string_view answers) { answers_ = answers; }

    // The editor hands over its line, terminated, and an empty list.
    void CollectCompletions(const char* partial, ObjectList* completions) override
    {
        std::string_view typed = s_console.TypedLine();
        FUZZ_CHECK(std::memchr(partial, '\0', CTextConsole::kLineSize) != nullptr);
        FUZZ_CHECK(typed == partial);
        FUZZ_CHECK(completions->IsEmpty());
        strings_.clear();
        if (!answers_.empty()) {
            for (std::string_view answer : Fuzz_Split(answers_, kNextCompletion))
                strings_.push_back(Completion(partial, answer));
        }
        for (std::string& completion : strings_)
            completions->AddTail(completion.data());
    }

private:
    static std::string Completion(const char* partial, std::string_view answer)
    {
        if (!answer.empty() && answer[0] == kLiteral)
            return std::string(answer.substr(1));
        return partial + std::string(answer);
    }

    std::string_view answers_;
    std::vector<std::string> strings_;
};

ScriptedProvider s_provider;

// --- keys -------------------------------------------------------------------------

// The bytes from at up to the next NUL or the end; at moves past them.
std::string_view TakeField(std::string_view input, size_t& at)
{
    size_t end = std::min(input.find('\0', at), input.size());
    std::string_view field = input.substr(at, end - at);
    at = end + 1;
    return field;
}

void Enter()
{
    int length = s_console.ReceiveNewline();
    if (length == 0)
        return;
    s_console.CheckDelivered(s_console.TypedLine().data());
    FUZZ_CHECK(std::strlen(s_console.TypedLine().data()) == static_cast<size_t>(length));
}

void Press(std::string_view input, size_t& at)
{
    uint8_t key = static_cast<uint8_t>(input[at++]);
    switch (key) {
    case kUp: s_console.ReceiveUpArrow(); break;
    case kDown: s_console.ReceiveDownArrow(); break;
    case kRight: s_console.ReceiveRightArrow(); break;
    case kLeft: s_console.ReceiveLeftArrow(); break;
    case kBackspace:
    case kDelete: s_console.ReceiveBackspace(); break;
    case kEnter: Enter(); break;
    case kTab:
        s_provider.Script(TakeField(input, at));
        s_console.ReceiveTab();
        break;
    case kPrint: s_console.Print(std::string(TakeField(input, at)).c_str()); break;
    default:
        if (key >= ' ' && key <= '~')
            s_console.ReceiveStandardChar(static_cast<char>(key));
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Init announces the console on standard output, once per input here.
    int nowhere = open("/dev/null", O_WRONLY);
    FUZZ_CHECK(nowhere >= 0 && dup2(nowhere, 1) == 1);
    close(nowhere);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    s_console.SetWidth(std::max(kNarrowest, data[0] << 8 | data[1]));
    s_console.ResetEditor(&s_provider);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (size_t at = 2; at < size;) {
        Press(input, at);
        s_console.CheckState();
    }
    return 0;
}
