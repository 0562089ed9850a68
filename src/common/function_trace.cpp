// The function trace ring and the timing of functions against a limit.

#include "common/diagnostics.h"

#include <cfloat>
#include <cmath>
#include <cstring>

char g_LogEntries[kTraceEntryCount][kTraceEntrySize];
int g_iCurrentEntry;
CPerformanceCounter g_PerfCounter;

namespace {

// A missing text is taken as an empty one.
const char* TextOrEmpty(const char* text)
{
    return text ? text : "";
}

// Copies text into the entry from position on, never past its last text
// byte (the terminator stays); returns the position after the copy.
int AppendToEntry(char* entry, int position, const char* text)
{
    while (*text != '\0' && position < kTraceEntrySize - 1)
        entry[position++] = *text++;
    return position;
}

// Writes the joined texts into the entry at the cursor and advances it.
void RecordEntry(const char* name, const char* suffix)
{
    char* entry = g_LogEntries[g_iCurrentEntry];
    std::memset(entry, 0, kTraceEntrySize);
    int end = AppendToEntry(entry, 0, TextOrEmpty(name));
    if (suffix)
        AppendToEntry(entry, end, suffix);
    g_iCurrentEntry = (g_iCurrentEntry + 1) % kTraceEntryCount;
}

// Rounds a time to single precision for the message; a time beyond float's
// range prints as an infinity rather than going through an undefined cast.
double AsSingle(double seconds)
{
    if (seconds > FLT_MAX)
        return HUGE_VAL;
    if (seconds < -FLT_MAX)
        return -HUGE_VAL;
    return static_cast<float>(seconds);
}

}  // namespace

void _LogFunctionTrace(const char* name, const char* suffix)
{
    RecordEntry(name, suffix);
}

double _StartFunctionTimer()
{
    return g_PerfCounter.GetCurTime();
}

// A function that took exactly maxTime is still in time.
void _LogFunctionTraceMaxTime(const char* name, double startTime, double maxTime)
{
    double elapsed = g_PerfCounter.GetCurTime() - startTime;
    if (elapsed > maxTime) {
        Error("Function (%s) took too long, %.3f (max %.3f)\n",
              TextOrEmpty(name), AsSingle(elapsed), AsSingle(maxTime));
        return;
    }
    RecordEntry(name, nullptr);
}
