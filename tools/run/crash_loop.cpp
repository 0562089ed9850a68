#include "crash_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace {

// The whole of text as a number from 1 to most, or -1.
long WholeNumber(const char* text, size_t length, long most)
{
    if (length == 0 || length > 9 || std::strspn(text, "0123456789") < length)
        return -1;
    long value = std::strtol(text, nullptr, 10);
    return value >= 1 && value <= most ? value : -1;
}

}  // namespace

bool CrashLimit::Parse(const char* text)
{
    const char* slash = std::strchr(text, '/');
    if (!slash)
        return false;
    long count = WholeNumber(text, static_cast<size_t>(slash - text), kMaxCrashCount);
    long seconds = WholeNumber(slash + 1, std::strlen(slash + 1), kMaxCrashSeconds);
    if (count < 0 || seconds < 0)
        return false;
    count_ = static_cast<int>(count);
    seconds_ = static_cast<int>(seconds);
    return true;
}

bool CrashLimit::Reached(int64_t nowMilliseconds, bool failedStart)
{
    failedStarts_[noted_ % count_] = failedStart;
    crashes_[noted_++ % count_] = nowMilliseconds;
    if (noted_ < count_)
        return false;
    int64_t oldest = crashes_[noted_ % count_];  // count_ ends back
    return nowMilliseconds - oldest <= static_cast<int64_t>(seconds_) * 1000;
}

int CrashLimit::FailedStarts() const
{
    int failed = 0;
    for (int i = 0; i < count_ && i < noted_; ++i)
        failed += failedStarts_[i];
    return failed;
}

// The launcher numbers its error logs upwards, so the highest is the newest.
CrashReports CrashReports_Find()
{
    CrashReports reports;
    DIR* folder = opendir("errorlogs");
    if (!folder)
        return reports;
    long highest = 0;
    while (const dirent* entry = readdir(folder)) {
        long number = 0;
        char tail[8] = "";
        if (std::sscanf(entry->d_name, "errorlog%ld%7s", &number, tail) != 2 || std::strcmp(tail, ".txt") != 0)
            continue;
        ++reports.count;
        if (number > highest) {
            highest = number;
            std::snprintf(reports.newest, sizeof(reports.newest), "errorlogs/%.40s", entry->d_name);
        }
    }
    closedir(folder);
    return reports;
}
