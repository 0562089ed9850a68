// The line editor, driven key by key through a back end that records every
// byte echoed.
#include "console/text_console.h"

#include "common/object_list.h"
#include "console/base_system.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kErase = "\b \b";

void Append(std::string& out, const char* text, int length)
{
    if (length == 0)
        out += text;
    else if (length > 0)
        out.append(text, length);
}

class RecordingConsole : public CTextConsole {
public:
    void PrintRaw(const char* text, int length) override { Append(printed, text, length); }
    void Echo(const char* text, int length) override { Append(echoed, text, length); }
    char* GetLine() override { return nullptr; }
    int GetWidth() override { return width; }

    void Type(const std::string& text)
    {
        for (char c : text)
            ReceiveStandardChar(c);
    }
    // Types text and Enter; returns what ReceiveNewline returned.
    int Enter(const std::string& text)
    {
        Type(text);
        return ReceiveNewline();
    }
    std::string Line() const { return std::string(lineBuffer, lineLength); }
    int Cursor() const { return cursorPosition; }
    int WriteIndex() const { return historyWriteIndex; }
    int Count() const { return historyCount; }
    std::string Slot(int i) const { return history[i]; }
    // Echo since the last call.
    std::string TakeEcho()
    {
        std::string taken = echoed;
        echoed.clear();
        return taken;
    }

    std::string echoed;
    std::string printed;
    int width = 80;
};

class Completions : public IBaseSystem {
public:
    void CollectCompletions(const char* partial, ObjectList* list) override
    {
        partials.push_back(partial);
        for (const std::string& word : words)
            list->Add(const_cast<char*>(word.c_str()));
    }
    std::vector<std::string> words;
    std::vector<std::string> partials;
};

class TextConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StdoutCapture capture;
        console.Init(nullptr);
        announced = capture.Text();
    }

    // Gives the console a provider; Init empties the line and the history too.
    void UseCompletions()
    {
        StdoutCapture capture;
        console.Init(&provider);
    }

    RecordingConsole console;
    Completions provider;
    std::string announced;
};

// --- typing ---------------------------------------------------------------------

TEST_F(TextConsoleTest, InitAnnouncesTheConsoleAndStartsEmpty)
{
    EXPECT_EQ(announced, "\nConsole initialized.\n");
    EXPECT_EQ(console.Line(), "");
    EXPECT_TRUE(console.IsVisible());
    EXPECT_EQ(console.echoed, "");
}

TEST_F(TextConsoleTest, InsertingInTheMiddleRedrawsTheRestOfTheLine)
{
    console.Type("ac");
    console.ReceiveLeftArrow();
    console.TakeEcho();
    console.ReceiveStandardChar('b');
    EXPECT_EQ(console.TakeEcho(), "bc\b");
    EXPECT_EQ(console.Line(), "abc");
    EXPECT_EQ(console.Cursor(), 2);
}

TEST_F(TextConsoleTest, BackspaceInTheMiddleClosesTheGap)
{
    console.Type("abc");
    console.ReceiveLeftArrow();
    console.TakeEcho();
    console.ReceiveBackspace();
    EXPECT_EQ(console.TakeEcho(), "\bc \b\b");
    EXPECT_EQ(console.Line(), "ac");
    EXPECT_EQ(console.Cursor(), 1);
}

TEST_F(TextConsoleTest, ALineHoldsAtMost254Characters)
{
    console.Type(std::string(300, 'x'));
    EXPECT_EQ(console.Line(), std::string(254, 'x'));
    EXPECT_EQ(console.TakeEcho(), std::string(254, 'x'));
    EXPECT_EQ(console.ReceiveNewline(), 254);
}

TEST_F(TextConsoleTest, KeysThatCannotActEchoNothing)
{
    console.ReceiveBackspace();
    console.ReceiveLeftArrow();
    console.ReceiveRightArrow();
    console.ReceiveUpArrow();
    console.ReceiveDownArrow();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "");
    console.Type("ab");
    console.TakeEcho();
    console.ReceiveRightArrow();
    EXPECT_EQ(console.TakeEcho(), "");
    console.ReceiveLeftArrow();
    console.ReceiveLeftArrow();
    EXPECT_EQ(console.TakeEcho(), "\b\b");
    console.ReceiveRightArrow();
    EXPECT_EQ(console.TakeEcho(), "a");
    EXPECT_EQ(console.Cursor(), 1);
}

TEST_F(TextConsoleTest, EnterFinishesTheWholeLineWhereverTheCursorIs)
{
    console.Type("status");
    console.ReceiveLeftArrow();
    console.ReceiveLeftArrow();
    console.TakeEcho();
    EXPECT_EQ(console.ReceiveNewline(), 6);
    EXPECT_EQ(console.TakeEcho(), "\n");
    EXPECT_EQ(console.Line(), "");
    EXPECT_EQ(console.Cursor(), 0);
}

TEST_F(TextConsoleTest, EnterOnAnEmptyLineOnlyEchoesANewline)
{
    EXPECT_EQ(console.ReceiveNewline(), 0);
    EXPECT_EQ(console.TakeEcho(), "\n");
    EXPECT_EQ(console.Count(), 0);
    EXPECT_EQ(console.WriteIndex(), 0);
}

// --- history --------------------------------------------------------------------

TEST_F(TextConsoleTest, ARepeatedLineIsStoredOnce)
{
    console.Enter("a");
    console.Enter("a");
    EXPECT_EQ(console.Count(), 1);
    console.Enter("b");
    console.Enter("a");
    EXPECT_EQ(console.Count(), 3);
}

TEST_F(TextConsoleTest, AFullRingWrapsAndStoresEvenARepeatAtSlotZero)
{
    for (int i = 0; i < CTextConsole::kHistorySize; ++i)
        console.Enter("line" + std::to_string(i));
    EXPECT_EQ(console.WriteIndex(), 0);
    EXPECT_EQ(console.Count(), 30);
    console.Enter("line29");
    EXPECT_EQ(console.Slot(0), "line29");
    EXPECT_EQ(console.WriteIndex(), 1);
    EXPECT_EQ(console.Count(), 30);
}

TEST_F(TextConsoleTest, BrowsingShowsOlderLinesAndBringsTheTypedLineBack)
{
    console.Enter("a");
    console.Enter("b");
    console.Type("xy");
    console.TakeEcho();
    console.ReceiveUpArrow();
    EXPECT_EQ(console.TakeEcho(), kErase + kErase + "b");
    console.ReceiveUpArrow();
    EXPECT_EQ(console.TakeEcho(), kErase + "a");
    console.ReceiveUpArrow();
    EXPECT_EQ(console.TakeEcho(), "");
    EXPECT_EQ(console.Line(), "a");
    console.ReceiveDownArrow();
    EXPECT_EQ(console.TakeEcho(), kErase + "b");
    console.ReceiveDownArrow();
    EXPECT_EQ(console.TakeEcho(), kErase + "xy");
    EXPECT_EQ(console.Line(), "xy");
    EXPECT_EQ(console.Cursor(), 2);
    console.ReceiveDownArrow();
    EXPECT_EQ(console.TakeEcho(), "");
}

TEST_F(TextConsoleTest, BrowsingErasesEveryCharacterWhereverTheCursorIs)
{
    console.Enter("a");
    console.Type("xyz");
    console.ReceiveLeftArrow();
    console.ReceiveLeftArrow();
    console.TakeEcho();
    console.ReceiveUpArrow();
    EXPECT_EQ(console.TakeEcho(), kErase + kErase + kErase + "a");
}

TEST_F(TextConsoleTest, AFullHistoryStopsBeforeItsOldestLine)
{
    for (int i = 0; i < 59; ++i)
        console.Enter("line" + std::to_string(i));
    ASSERT_EQ(console.WriteIndex(), 29);
    int steps = 0;
    for (; steps < 40; ++steps) {
        std::string before = console.Line();
        console.ReceiveUpArrow();
        if (console.Line() == before)
            break;
    }
    // Slots 28 down to 0: the oldest line, in slot 29, is never shown.
    EXPECT_EQ(steps, 29);
    EXPECT_EQ(console.Line(), console.Slot(0));
}

TEST_F(TextConsoleTest, EditingABrowsedLineMakesItTheTypedLine)
{
    console.Enter("abc");
    console.Type("new");
    console.ReceiveUpArrow();
    console.ReceiveBackspace();
    console.TakeEcho();
    console.ReceiveDownArrow();
    EXPECT_EQ(console.TakeEcho(), "");
    EXPECT_EQ(console.Line(), "ab");
    console.ReceiveUpArrow();
    console.ReceiveDownArrow();
    EXPECT_EQ(console.Line(), "ab");
}

// --- completion -------------------------------------------------------------------

TEST_F(TextConsoleTest, OneCompletionAppendsItsTailAndABlank)
{
    UseCompletions();
    provider.words = {"status"};
    console.Type("st");
    console.ReceiveLeftArrow();
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(provider.partials, std::vector<std::string>{"st"});
    EXPECT_EQ(console.TakeEcho(), "atus ");
    EXPECT_EQ(console.Line(), "status ");
    EXPECT_EQ(console.Cursor(), 7);
}

TEST_F(TextConsoleTest, SeveralCompletionsAreListedInColumns)
{
    UseCompletions();
    provider.words = {"exec server.cfg", "exec s.cfg"};
    console.Type("exec s");
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "\nexec server.cfg exec s.cfg      \nexec s");
    EXPECT_EQ(console.Line(), "exec s");
    EXPECT_EQ(console.Cursor(), 6);
}

TEST_F(TextConsoleTest, CompletionRowsFollowTheWidth)
{
    UseCompletions();
    console.width = 12;  // (12 - 1) / (4 + 1) = 2 columns
    provider.words = {"aaaa", "ab", "ac", "ad", "ae"};
    console.Type("a");
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "\naaaa ab   \nac   ad   \nae   \na");
    console.width = 4;  // no column fits: every completion starts a row
    provider.words = {"aaaa", "ab"};
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "\n\naaaa \nab   \na");
}

TEST_F(TextConsoleTest, ACompletionThatWouldOverfillTheLineIsIgnored)
{
    UseCompletions();
    console.Type(std::string(250, 'x'));
    provider.words = {std::string(253, 'x')};
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "xxx ");
    EXPECT_EQ(console.Line().size(), 254u);

    console.ReceiveBackspace();
    console.ReceiveBackspace();
    provider.words = {std::string(254, 'x')};
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "");
    EXPECT_EQ(console.Line(), std::string(252, 'x'));
}

TEST_F(TextConsoleTest, ACompletionShorterThanTheLineIsIgnored)
{
    UseCompletions();
    console.Type("status");
    provider.words = {"st"};
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "");
    EXPECT_EQ(console.Line(), "status");
}

TEST_F(TextConsoleTest, NoCompletionChangesNothing)
{
    UseCompletions();
    console.Enter("old");
    console.Type("zz");
    console.ReceiveUpArrow();
    console.TakeEcho();
    console.ReceiveTab();
    EXPECT_EQ(console.TakeEcho(), "");
    // Still browsing: down brings the typed line back.
    console.ReceiveDownArrow();
    EXPECT_EQ(console.Line(), "zz");
}

// --- messages -------------------------------------------------------------------------

TEST_F(TextConsoleTest, PrintErasesTheTypedLineAndDrawsItAgain)
{
    console.Type("ab");
    console.Print("message\n");
    EXPECT_EQ(console.printed, kErase + kErase + "message\nab");
    console.printed.clear();
    console.Enter("ab");
    console.Print("next\n");
    EXPECT_EQ(console.printed, "next\n");
}

}  // namespace
