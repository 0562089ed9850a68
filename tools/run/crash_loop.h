// A crash loop, seen from tarn-run: the launcher's crash reports, and the
// limit after which restarting it again only writes more of them.
#ifndef TARN_RUN_CRASH_LOOP_H
#define TARN_RUN_CRASH_LOOP_H

#include <cstdint>

constexpr int kMaxCrashCount = 100;
constexpr int kMaxCrashSeconds = 86400;

// COUNT crashes or failed starts within SECONDS stop the restarts; 5 within
// 60 by default. A start that fails fails again the same way, so it counts
// as a crash does.
class CrashLimit {
public:
    // "COUNT/SECONDS", whole numbers in range with nothing else; false
    // leaves the limit as it was.
    bool Parse(const char* text);
    // Notes a crash or a failed start; true when it makes COUNT within SECONDS.
    bool Reached(int64_t nowMilliseconds, bool failedStart);
    int Count() const { return count_; }
    int Seconds() const { return seconds_; }
    // How many of the last COUNT were failed starts.
    int FailedStarts() const;

private:
    int count_ = 5;
    int seconds_ = 60;
    int64_t crashes_[kMaxCrashCount] = {};  // the last count_ ends' times, a ring
    bool failedStarts_[kMaxCrashCount] = {};  // beside each, whether the start failed
    int noted_ = 0;
};

// The crash reports below the server directory: how many error logs there
// are, and the newest's path ("" when none).
struct CrashReports {
    int count = 0;
    char newest[64] = "";
};
CrashReports CrashReports_Find();

#endif
