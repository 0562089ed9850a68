// Error: numbered error-log files with the message and the function trace.

#include "diagnostics.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int g_iLogNumber;

namespace {

constexpr char kLogDirectory[] = "errorlogs";
constexpr mode_t kLogDirectoryMode = 0755;
constexpr mode_t kLogFileMode = 0644;
constexpr int kLogPathSize = 64;  // "errorlogs/errorlog" + up to 10 digits + ".txt"

// Creates the file of the next log number. A log is never overwritten: while
// the file of the number exists (left by an earlier run or written by another
// process just now) the next number is tried. Returns the descriptor, or -1;
// numbers tried stay used up either way.
int CreateNextLogFile()
{
    char path[kLogPathSize];
    while (g_iLogNumber < INT_MAX) {
        ++g_iLogNumber;
        int length = std::snprintf(path, sizeof(path), "errorlogs/errorlog%.5d.txt", g_iLogNumber);
        if (length < 0 || length >= kLogPathSize)
            return -1;
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kLogFileMode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes the trace newest first, emptying each entry written; stops at the
// first empty entry, so older entries behind it stay for a later log.
void WriteTrace(FILE* file)
{
    int index = g_iCurrentEntry;
    for (int lines = 0; lines < kTraceEntryCount; ++lines) {
        index = (index + kTraceEntryCount - 1) % kTraceEntryCount;
        char* entry = g_LogEntries[index];
        if (entry[0] == '\0')
            return;
        std::fprintf(file, "%s\n", entry);
        entry[0] = '\0';
    }
}

}  // namespace

// Write failures inside the file are not reported: there is no one to tell.
extern "C" void Error(const char* format, ...)
{
    mkdir(kLogDirectory, kLogDirectoryMode);  // usually exists already; the open decides
    int fd = CreateNextLogFile();
    if (fd < 0)
        return;
    FILE* file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        return;
    }
    std::fputs("Error:", file);
    if (format) {
        va_list args;
        va_start(args, format);
        std::vfprintf(file, format, args);
        va_end(args);
    }
    std::fputs("\n\nFunction trace:\n", file);
    WriteTrace(file);
    std::fclose(file);
}

void ClearErrorLogs()
{
}
