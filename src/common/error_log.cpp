// Error: numbered error-log files with the message and the function trace.

#include "common/diagnostics.h"
#include "common/write_all.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int g_iLogNumber;

namespace {

constexpr mode_t kLogDirectoryMode = 0755;
constexpr mode_t kLogFileMode = 0644;
constexpr int kMinimumDigits = 5;

// "errorlog%.5d.txt" without the C library's formatting, which a signal
// handler may not call.
void FormatLogName(int number, char (&name)[kErrorLogNameSize])
{
    char digits[12];
    int count = 0;
    for (unsigned value = static_cast<unsigned>(number); value > 0 || count < kMinimumDigits; value /= 10)
        digits[count++] = static_cast<char>('0' + value % 10);
    char* out = name;
    for (const char* c = "errorlog"; *c; ++c)
        *out++ = *c;
    while (count > 0)
        *out++ = digits[--count];
    for (const char* c = ".txt"; *c; ++c)
        *out++ = *c;
    *out = '\0';
}

}  // namespace

// A log is never overwritten: while the file of the number exists (left by
// an earlier run or written by another process just now) the next number is
// tried. Numbers tried stay used up either way.
int Diag_CreateNextLog(int directoryFd, char (&name)[kErrorLogNameSize])
{
    while (g_iLogNumber < INT_MAX) {
        FormatLogName(++g_iLogNumber, name);
        int fd = openat(directoryFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kLogFileMode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Stops at the first empty entry, so older entries behind it stay for a
// later log.
bool Diag_WriteTrace(int fd)
{
    bool written = true;
    int index = g_iCurrentEntry;
    for (int lines = 0; lines < kTraceEntryCount; ++lines) {
        index = (index + kTraceEntryCount - 1) % kTraceEntryCount;
        char* entry = g_LogEntries[index];
        if (entry[0] == '\0')
            break;
        written = Fd_WriteAll(fd, entry, strnlen(entry, kTraceEntrySize)) && Fd_WriteAll(fd, "\n", 1) && written;
        entry[0] = '\0';
    }
    return written;
}

// Write failures inside the file are not reported: there is no one to tell.
extern "C" void Error(const char* format, ...)
{
    mkdir(kErrorLogDirectory, kLogDirectoryMode);  // usually exists already; the open decides
    int directory = open(kErrorLogDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        ++g_iLogNumber;  // the number is used up, as when its file cannot be created
        return;
    }
    char name[kErrorLogNameSize];
    int fd = Diag_CreateNextLog(directory, name);
    close(directory);
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
    std::fflush(file);
    Diag_WriteTrace(fd);
    std::fclose(file);
}

void ClearErrorLogs()
{
}
