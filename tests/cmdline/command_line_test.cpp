// The command line: parameter-file expansion, switch lookup and editing.
#include "cmdline/command_line.h"

#include "stdout_capture.h"
#include "temp_workdir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class CommandLineTest : public TempWorkdir {
protected:
    // Builds from text and returns the result and what was printed.
    std::string Build(const char* text, std::string* printed = nullptr)
    {
        StdoutCapture capture;
        line.CreateCmdLine(text);
        std::string output = capture.Text();
        if (printed)
            *printed = output;
        return line.GetCmdLine();
    }

    // Builds from text, removes name and returns what is left.
    std::string Removed(const char* text, const char* name)
    {
        Build(text);
        line.RemoveParm(name);
        return line.GetCmdLine();
    }

    std::string Value(const char* name)
    {
        char* value = nullptr;
        line.CheckParm(name, &value);
        return value ? value : "<null>";
    }

    CCommandLine line;
};

// --- parameter files ---------------------------------------------------

TEST_F(CommandLineTest, ParameterFileReplacesItsReferenceWithNewlinesAsSpaces)
{
    WriteFile("p.txt", "-f 3\n-g 4\n");
    EXPECT_EQ(Build("-x 1 @p.txt -y 2"), "-x 1 -f 3 -g 4  -y 2");
}

TEST_F(CommandLineTest, MissingParameterFileIsReportedAndDropped)
{
    std::string printed;
    EXPECT_EQ(Build("-x 1 @p.txt -y 2", &printed), "-x 1 -y 2");
    EXPECT_EQ(printed, "Parameter file 'p.txt' not found, skipping...");
}

TEST_F(CommandLineTest, CarriageReturnsOfAParameterFileStay)
{
    WriteFile("crlf.txt", "-port 30100\r\n-ip 1.2.3.4\r\n");
    EXPECT_EQ(Build("@crlf.txt"), "-port 30100\r -ip 1.2.3.4\r  ");
    EXPECT_EQ(Value("-port"), "30100\r");
}

TEST_F(CommandLineTest, ReferencesAtTheEndLeaveTheAddedSpace)
{
    WriteFile("empty.txt", "");
    WriteFile("nl.txt", "-a\n");
    EXPECT_EQ(Build("-x @empty.txt"), "-x  ");
    EXPECT_EQ(Build("-x @nl.txt"), "-x -a  ");
}

TEST_F(CommandLineTest, AnAtSignAloneNamesTheEmptyFile)
{
    std::string printed;
    EXPECT_EQ(Build("-x @ -y", &printed), "-x -y");
    EXPECT_EQ(printed, "Parameter file '' not found, skipping...");
    EXPECT_EQ(Build("-x @", &printed), "-x ");
    EXPECT_EQ(printed, "Parameter file '' not found, skipping...");
}

TEST_F(CommandLineTest, OnlyASpaceEndsAFileName)
{
    WriteFile("a", "-from-a\n");
    std::string printed;
    EXPECT_EQ(Build("@a\t-y", &printed), "");
    EXPECT_EQ(printed, "Parameter file 'a\t-y' not found, skipping...");
    WriteFile("a\t-y", "-tabbed");
    EXPECT_EQ(Build("@a\t-y"), "-tabbed ");
}

TEST_F(CommandLineTest, ReferencesInARowAreAllExpanded)
{
    WriteFile("a", "-a 1");
    WriteFile("b", "-b 2");
    EXPECT_EQ(Build("@a @b -c"), "-a 1 -b 2 -c");
}

TEST_F(CommandLineTest, AtSignsInsideTokensAndFilesStayCharacters)
{
    WriteFile("a", "@b x@y");
    WriteFile("b", "-never");
    EXPECT_EQ(Build("x@a -mail a@b @a"), "x@a -mail a@b @b x@y ");
}

TEST_F(CommandLineTest, AnyWhiteSpaceStartsAToken)
{
    WriteFile("a", "-a");
    EXPECT_EQ(Build("-x\t@a"), "-x\t-a ");
}

TEST_F(CommandLineTest, NullOrEmptyTextGivesAnEmptyString)
{
    EXPECT_EQ(Build(nullptr), "");
    EXPECT_EQ(Build(""), "");
}

TEST_F(CommandLineTest, TextPastTheBufferBoundIsCut)
{
    std::string atLimit(CCommandLine::kExpandedSize - 1, 'x');
    EXPECT_EQ(Build(atLimit.c_str()), atLimit);
    EXPECT_EQ(Build((atLimit + "y").c_str()), atLimit);
}

// A NUL separates words; a file too long for the room the rest of the line
// leaves is refused whole, and read no further.
TEST_F(CommandLineTest, ParameterFilesNeverDropWhatFollowsThem)
{
    const std::string room(CCommandLine::kExpandedSize - 1 - 6, 'f'), big(3 * CCommandLine::kExpandedSize, 'f');
    const std::string tooLong = "' too long for the command line, skipping...\n";
    struct Row { std::string contents, text, line, printed; };
    for (const Row& row : {Row{std::string("-pingboost 3\0\n", 14), "@p -port 30273", "-pingboost 3   -port 30273", ""},
                           Row{"", "@/dev/zero -port 30273", "-port 30273", "Parameter file '/dev/zero" + tooLong},
                           Row{room, "-a @p -b", "-a " + room + " -b", ""},
                           Row{room + "f", "-a @p -b", "-a -b", "Parameter file 'p" + tooLong},
                           Row{big, "-a @p -b", "-a -b", "Parameter file 'p" + tooLong}}) {
        WriteFile("p", row.contents);
        std::string printed;
        EXPECT_EQ(Build(row.text.c_str(), &printed), row.line) << row.text << " " << row.contents.size();
        EXPECT_EQ(printed, row.printed) << row.text << " " << row.contents.size();
    }
}

TEST_F(CommandLineTest, OverlongFileNameIsNotFoundAndNeverOverruns)
{
    std::string name(CCommandLine::kFileNameSize + 10, 'n');
    std::string printed;
    EXPECT_EQ(Build(("-a @" + name + " -b").c_str(), &printed), "-a -b");
    std::string cut(CCommandLine::kFileNameSize - 1, 'n');
    EXPECT_EQ(printed, "Parameter file '" + cut + "' not found, skipping...");
}

TEST_F(CommandLineTest, ArgumentVectorIsJoinedWithQuotesAroundSpaces)
{
    WriteFile("p", "-p 1");
    const char* argv[] = {"prog", "-world", "my world", "@p", "@not expanded"};
    StdoutCapture capture;
    line.CreateCmdLine(5, argv);
    EXPECT_EQ(capture.Text(), "");
    EXPECT_STREQ(line.GetCmdLine(), "prog -world \"my world\" -p 1 \"@not expanded\"");

    line.CreateCmdLine(0, nullptr);
    ASSERT_NE(line.GetCmdLine(), nullptr);
    EXPECT_STREQ(line.GetCmdLine(), "");
}

TEST_F(CommandLineTest, ArgumentVectorIsCutAtTheJoiningBound)
{
    std::string longArgument(CCommandLine::kJoinedSize, 'a');
    const char* argv[] = {"prog", longArgument.c_str()};
    line.CreateCmdLine(2, argv);
    std::string expected = "prog " + longArgument;
    expected.resize(CCommandLine::kJoinedSize - 1);
    EXPECT_EQ(line.GetCmdLine(), expected);
}

// --- CheckParm ---------------------------------------------------------

TEST_F(CommandLineTest, CheckParmWithoutAStringFindsNothingAndLeavesTheValue)
{
    char sentinel[] = "untouched";
    char* value = sentinel;
    EXPECT_EQ(line.CheckParm("-x", &value), nullptr);
    EXPECT_EQ(value, sentinel);
    Build("-a 1");
    EXPECT_EQ(line.CheckParm("-x", &value), nullptr);
    EXPECT_EQ(value, sentinel);
}

TEST_F(CommandLineTest, CheckParmReturnsThePositionAndTheNextWord)
{
    Build("-world w1 -port 30100");
    EXPECT_EQ(line.CheckParm("-port", nullptr), line.GetCmdLine() + 10);
    EXPECT_EQ(Value("-port"), "30100");
    EXPECT_EQ(Value("-world"), "w1");
}

TEST_F(CommandLineTest, CheckParmFindsTheFirstSubstringAnywhere)
{
    Build("-xy 1 -x 2");
    EXPECT_EQ(line.CheckParm("-x", nullptr), line.GetCmdLine());
    EXPECT_EQ(Value("-x"), "1");
    Build("-name -pidfile.txt -pid 5");
    EXPECT_EQ(Value("-pid"), "-pid");
}

TEST_F(CommandLineTest, CheckParmGivesAnEmptyValueNeverNull)
{
    Build("-a  -b 1 -last");
    EXPECT_EQ(Value("-last"), "");
    EXPECT_EQ(Value("-a"), "");
}

TEST_F(CommandLineTest, CheckParmCutsValuesTo127Characters)
{
    std::string exact(CCommandLine::kValueSize - 1, 'v');
    Build(("-a " + exact + " -b " + exact + "w").c_str());
    EXPECT_EQ(Value("-a"), exact);
    EXPECT_EQ(Value("-b"), exact);
}

TEST_F(CommandLineTest, CheckParmValuesShareOneBuffer)
{
    Build("-a 1 -b 2");
    char* first = nullptr;
    char* second = nullptr;
    line.CheckParm("-a", &first);
    line.CheckParm("-b", &second);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "2");
}

// --- RemoveParm, AppendParm, SetParm ----------------------------------

TEST_F(CommandLineTest, RemoveParmTakesTheSwitchAndItsValue)
{
    EXPECT_EQ(Removed("-a 1 -b 2 -c 3", "-b"), "-a 1 -c 3");
    EXPECT_EQ(Removed("-a 1 -b 2 -c 3", "-c"), "-a 1 -b 2");
    EXPECT_EQ(Removed("-a 1 -b 2 -c 3", "-a"), "-b 2 -c 3");
}

TEST_F(CommandLineTest, RemoveParmStopsAtADashOrPlusInsideAValue)
{
    EXPECT_EQ(Removed("-name a-b -c 1", "-name"), "-b -c 1");
    EXPECT_EQ(Removed("+exec x +echo 8", "+exec"), "+echo 8");
}

TEST_F(CommandLineTest, RemoveParmRemovesEveryOccurrenceInPlace)
{
    Build("-v 1 -a -v 2 -v");
    const char* storage = line.GetCmdLine();
    line.RemoveParm("-v");
    EXPECT_EQ(line.GetCmdLine(), storage);
    EXPECT_STREQ(line.GetCmdLine(), "-a");
}

TEST_F(CommandLineTest, RemoveParmOfAnAbsentNameStillDropsTrailingSpaces)
{
    EXPECT_EQ(Removed("-a 1   ", "-zz"), "-a 1");
}

TEST_F(CommandLineTest, RemoveParmIgnoresNullEmptyAndNoString)
{
    line.RemoveParm("-a");
    EXPECT_EQ(line.GetCmdLine(), nullptr);
    Build("-a 1 ");
    line.RemoveParm(nullptr);
    line.RemoveParm("");
    EXPECT_STREQ(line.GetCmdLine(), "-a 1 ");
}

TEST_F(CommandLineTest, AppendParmMovesTheSwitchToTheEnd)
{
    Build("-a 1 -b 2");
    line.AppendParm("-a", "5");
    EXPECT_STREQ(line.GetCmdLine(), "-b 2 -a 5");
    line.AppendParm("-lumen", nullptr);
    EXPECT_STREQ(line.GetCmdLine(), "-b 2 -a 5 -lumen");
    line.AppendParm("-e", "");
    EXPECT_STREQ(line.GetCmdLine(), "-b 2 -a 5 -lumen -e ");
}

TEST_F(CommandLineTest, AppendParmOnAnEmptyStringStartsWithASpace)
{
    Build("");
    line.AppendParm("-lumen", nullptr);
    EXPECT_STREQ(line.GetCmdLine(), " -lumen");
}

TEST_F(CommandLineTest, AppendParmWithoutAStringCreatesIt)
{
    line.AppendParm("-a", nullptr);
    EXPECT_STREQ(line.GetCmdLine(), "-a");
    CCommandLine other;
    other.AppendParm("-a", "1");
    EXPECT_STREQ(other.GetCmdLine(), "-a 1");
}

TEST_F(CommandLineTest, AppendParmAfterTrailingSpacesLeavesOneSpace)
{
    Build("-a 1    ");
    line.AppendParm("-b", "2");
    EXPECT_STREQ(line.GetCmdLine(), "-a 1 -b 2");
}

TEST_F(CommandLineTest, SetParmReplacesTheValue)
{
    Build("-port 1 -world x");
    line.SetParm("-port", "30100");
    EXPECT_STREQ(line.GetCmdLine(), "-world x -port 30100");
    line.SetParm("-port", 42);
    EXPECT_STREQ(line.GetCmdLine(), "-world x -port 42");
    line.SetParm("-world", nullptr);
    EXPECT_STREQ(line.GetCmdLine(), "-port 42 -world");
}

TEST_F(CommandLineTest, ANegativeIntegerValueSurvivesItsSwitchsRemoval)
{
    Build("-a 1");
    line.SetParm("-n", -5);
    EXPECT_STREQ(line.GetCmdLine(), "-a 1 -n -5");
    line.RemoveParm("-n");
    EXPECT_STREQ(line.GetCmdLine(), "-a 1 -5");
}

// The global as a constructor that runs before every ordinary one sees it.
struct EarlyLook {
    EarlyLook() : reachable(cmdline), line(cmdline ? cmdline->GetCmdLine() : "<unreachable>") {}
    bool reachable;
    const char* line;
};
EarlyLook s_early __attribute__((init_priority(101)));

TEST(CommandLineGlobalTest, IsReachableBeforeAnyConstructorAndStartsEmpty)
{
    EXPECT_TRUE(s_early.reachable);
    EXPECT_EQ(s_early.line, nullptr);
}

}  // namespace
