// The wall-clock timer: the first reading of a process, and readings that
// follow the clock across counters.

#include "common/diagnostics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/time.h>

namespace {

constexpr double kSleepSeconds = 1.5;
constexpr double kTolerance = 0.01;

double WallClock()
{
    timeval now = {};
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec * 0.000001;
}

void Sleep(double seconds)
{
    timespec delay = {static_cast<time_t>(seconds),
                      static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

}  // namespace

TEST(PerformanceCounterTest, FirstReadingOfAProcessIsBelowOneSecond)
{
    // The reading must be the first of its process: run it in a fresh one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            double first = CPerformanceCounter().GetCurTime();
            std::_Exit(first >= 0.0 && first < 1.0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PerformanceCounterTest, ReadingsOfEveryCounterFollowTheWallClockFromOneReference)
{
    CPerformanceCounter early;
    double wallBefore = WallClock();
    double before = early.GetCurTime();
    Sleep(kSleepSeconds);
    CPerformanceCounter later;
    double after = later.GetCurTime();
    double wallAfter = WallClock();

    EXPECT_GE(wallAfter - wallBefore, kSleepSeconds);
    EXPECT_NEAR(after - before, wallAfter - wallBefore, kTolerance);
    EXPECT_GE(after, kSleepSeconds);
    EXPECT_LT(after, 3600.0);
    EXPECT_NEAR(_StartFunctionTimer(), after, kTolerance);
}
