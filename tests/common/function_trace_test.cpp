// The function trace ring as it shows in error logs and in memory: wrapping,
// newest first, emptying by a log, the cut at 255 characters, and timing.

#include "diagnostics_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string Name(int i)
{
    return "func" + std::to_string(i);
}

// Traces func<first> .. func<last-1>, oldest first.
void TraceNames(int first, int last)
{
    for (int i = first; i < last; ++i)
        _LogFunctionTrace(Name(i).c_str(), nullptr);
}

// The trace lines of func<last-1> down to func<first>, newest first.
std::string LinesNewestFirst(int first, int last)
{
    std::string lines;
    for (int i = last - 1; i >= first; --i)
        lines += Name(i) + "\n";
    return lines;
}

// The entry is exactly the text followed by zero bytes to its end.
::testing::AssertionResult EntryHolds(int index, const std::string& text)
{
    std::string expected = text;
    expected.resize(kTraceEntrySize, '\0');
    std::string actual(g_LogEntries[index], kTraceEntrySize);
    if (actual == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "entry " << index << " holds \"" << actual.c_str() << "\"";
}

bool RingIsEmpty()
{
    for (const char* entry : g_LogEntries) {
        if (entry[0] != '\0')
            return false;
    }
    return true;
}

}  // namespace

using FunctionTraceTest = DiagnosticsTest;

// --- the ring in error logs --------------------------------------------------

TEST_F(FunctionTraceTest, LogOfAnEmptyRingEndsWithTheTraceHeading)
{
    Error("nothing traced");
    EXPECT_EQ(Log(1), LogText("nothing traced"));
}

TEST_F(FunctionTraceTest, After70CallsTheLogListsThe64NewestNewestFirst)
{
    TraceNames(0, 70);
    EXPECT_EQ(g_iCurrentEntry, 6);
    Error("wrapped");
    EXPECT_EQ(Log(1), LogText("wrapped", LinesNewestFirst(6, 70)));
}

TEST_F(FunctionTraceTest, AfterExactly64CallsTheLogListsAllOfThemNewestFirst)
{
    TraceNames(0, 64);
    EXPECT_EQ(g_iCurrentEntry, 0);
    Error("full");
    EXPECT_EQ(Log(1), LogText("full", LinesNewestFirst(0, 64)));
}

TEST_F(FunctionTraceTest, ALogEmptiesWhatItWritesSoTheNextListsOnlyNewerCalls)
{
    TraceNames(0, 3);
    Error("first");
    EXPECT_TRUE(RingIsEmpty());
    EXPECT_EQ(g_iCurrentEntry, 3);
    Error("second");
    TraceNames(3, 5);
    Error("third");
    EXPECT_EQ(Log(1), LogText("first", LinesNewestFirst(0, 3)));
    EXPECT_EQ(Log(2), LogText("second"));
    EXPECT_EQ(Log(3), LogText("third", LinesNewestFirst(3, 5)));
}

TEST_F(FunctionTraceTest, AnEmptyNameEndsTheWalkAndKeepsTheOlderEntries)
{
    TraceNames(0, 2);
    _LogFunctionTrace("", nullptr);
    TraceNames(2, 3);
    Error("stopped");
    EXPECT_EQ(Log(1), LogText("stopped", LinesNewestFirst(2, 3)));
    EXPECT_TRUE(EntryHolds(0, Name(0)));
    EXPECT_TRUE(EntryHolds(1, Name(1)));

    Error("still stopped");
    EXPECT_EQ(Log(2), LogText("still stopped"));
    EXPECT_TRUE(EntryHolds(1, Name(1)));
}

TEST_F(FunctionTraceTest, ClearErrorLogsLeavesTheRingAndTheFilesAlone)
{
    TraceNames(0, 2);
    Error("kept");
    TraceNames(2, 4);
    char before[kTraceEntryCount][kTraceEntrySize];
    std::memcpy(before, g_LogEntries, sizeof(before));
    ClearErrorLogs();
    EXPECT_EQ(std::memcmp(before, g_LogEntries, sizeof(before)), 0);
    EXPECT_EQ(g_iCurrentEntry, 4);
    EXPECT_EQ(Log(1), LogText("kept", LinesNewestFirst(0, 2)));
    Error("after");
    EXPECT_EQ(Log(2), LogText("after", LinesNewestFirst(2, 4)));
}

// --- entry texts -------------------------------------------------------------

TEST_F(FunctionTraceTest, NameIsCutTo255CharactersAtTheLimitAndPastIt)
{
    const std::string limit(255, 'n');
    _LogFunctionTrace(limit.c_str(), nullptr);
    _LogFunctionTrace((limit + "x").c_str(), nullptr);
    _LogFunctionTrace(std::string(300, 'n').c_str(), nullptr);
    EXPECT_TRUE(EntryHolds(0, limit));
    EXPECT_TRUE(EntryHolds(1, limit));
    EXPECT_TRUE(EntryHolds(2, limit));
    Error("long");
    EXPECT_EQ(Log(1), LogText("long", limit + "\n" + limit + "\n" + limit + "\n"));
}

TEST_F(FunctionTraceTest, SuffixIsJoinedToTheNameWithin255Characters)
{
    _LogFunctionTrace("RunFrames", ":enter");
    _LogFunctionTrace("RunFrames", nullptr);
    _LogFunctionTrace(std::string(250, 'n').c_str(), "0123456789");
    _LogFunctionTrace(std::string(254, 'n').c_str(), "s");
    _LogFunctionTrace(std::string(255, 'n').c_str(), "s");
    _LogFunctionTrace("", "only suffix");
    EXPECT_TRUE(EntryHolds(0, "RunFrames:enter"));
    EXPECT_TRUE(EntryHolds(1, "RunFrames"));
    EXPECT_TRUE(EntryHolds(2, std::string(250, 'n') + "01234"));
    EXPECT_TRUE(EntryHolds(3, std::string(254, 'n') + "s"));
    EXPECT_TRUE(EntryHolds(4, std::string(255, 'n')));
    EXPECT_TRUE(EntryHolds(5, "only suffix"));
}

TEST_F(FunctionTraceTest, AReusedEntryKeepsNothingOfItsOlderLongerText)
{
    _LogFunctionTrace(std::string(300, 'o').c_str(), "old suffix");
    TraceNames(1, kTraceEntryCount);
    _LogFunctionTrace("new", nullptr);
    EXPECT_TRUE(EntryHolds(0, "new"));
}

// --- timing against a limit --------------------------------------------------

TEST_F(FunctionTraceTest, ElapsedTimeExactlyAtTheMaximumRecordsTheNameAndWritesNoLog)
{
    // Against a start this far off, the current time vanishes in rounding:
    // the elapsed time is exactly -1e300.
    _LogFunctionTraceMaxTime("Timed", 1e300, -1e300);
    EXPECT_TRUE(EntryHolds(0, "Timed"));
    EXPECT_EQ(g_iCurrentEntry, 1);
    struct stat info;
    EXPECT_NE(stat("errorlogs", &info), 0);
}

TEST_F(FunctionTraceTest, ElapsedTimeJustAboveTheMaximumWritesALogInstead)
{
    _LogFunctionTraceMaxTime("Timed", 1e300, std::nextafter(-1e300, -INFINITY));
    EXPECT_EQ(g_iCurrentEntry, 0);
    EXPECT_TRUE(RingIsEmpty());
    EXPECT_EQ(Log(1), LogText("Function (Timed) took too long, -inf (max -inf)\n"));
}

TEST_F(FunctionTraceTest, SlowFunctionLogsHowLongItTookWithTheTraceBeforeIt)
{
    TraceNames(0, 2);
    _LogFunctionTraceMaxTime("WritePidFile", _StartFunctionTimer() - 5.0, 1.0);
    EXPECT_EQ(g_iCurrentEntry, 2);
    // 5 s and the few milliseconds a busy machine may take between the two
    // readings.
    std::string log = Log(1);
    double took = 0;
    ASSERT_EQ(std::sscanf(log.c_str(), "Error:Function (WritePidFile) took too long, %lf", &took), 1) << log;
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 5.5);
    char shown[16];
    std::snprintf(shown, sizeof(shown), "%.3f", static_cast<float>(took));
    EXPECT_EQ(log, LogText(std::string("Function (WritePidFile) took too long, ") + shown + " (max 1.000)\n",
                           LinesNewestFirst(0, 2)));
}

TEST_F(FunctionTraceTest, FunctionWithinItsTimeIsRecordedWithoutSuffix)
{
    _LogFunctionTraceMaxTime(std::string(300, 'q').c_str(), _StartFunctionTimer(), 60.0);
    EXPECT_TRUE(EntryHolds(0, std::string(255, 'q')));
    EXPECT_EQ(g_iCurrentEntry, 1);
}
