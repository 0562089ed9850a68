// Frame pacing. The C library's sleeping calls are replaced in this test
// program by recorders, so each strategy's exact arguments can be checked;
// in pass-through mode they go on to the real calls and real signals.
#include "launcher/pacing.h"

#include "launcher_spawn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dlfcn.h>
#include <functional>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Recorder {
    bool passThrough = false;
    int setitimerResult = 0;
    int delayAfterArmingMicroseconds = 0;
    std::function<void()> duringPause;

    std::vector<useconds_t> usleeps;
    std::vector<itimerval> timers;
    int pauses = 0;
    int selects = 0;
    int lastSelectCount = 0;
    bool lastSelectWithoutSets = false;
    timeval lastSelectTimeout{};
};

Recorder s_recorder;

template <typename Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void BusyWait(int microseconds)
{
    timeval start, now;
    gettimeofday(&start, nullptr);
    do
        gettimeofday(&now, nullptr);
    while ((now.tv_sec - start.tv_sec) * 1000000 + (now.tv_usec - start.tv_usec) < microseconds);
}

}  // namespace

extern "C" int usleep(useconds_t microseconds)
{
    s_recorder.usleeps.push_back(microseconds);
    return s_recorder.passThrough ? Real<int (*)(useconds_t)>("usleep")(microseconds) : 0;
}

extern "C" int select(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                      timeval* timeout)
{
    ++s_recorder.selects;
    s_recorder.lastSelectCount = count;
    s_recorder.lastSelectWithoutSets = !readable && !writable && !failed;
    s_recorder.lastSelectTimeout = *timeout;
    return 0;
}

// Looked up before any test runs: the alarm handler calls setitimer too.
const auto s_realSetitimer =
    Real<int (*)(__itimer_which_t, const itimerval*, itimerval*)>("setitimer");

extern "C" int setitimer(__itimer_which_t which, const itimerval* value, itimerval* old)
{
    if (!s_recorder.passThrough) {
        EXPECT_EQ(which, ITIMER_REAL);
        EXPECT_EQ(old, nullptr);
        s_recorder.timers.push_back(*value);
        return s_recorder.setitimerResult;
    }
    // Passed through, it also runs in the alarm handler, where nothing may
    // allocate or take a lock: no recording then.
    int result = s_realSetitimer(which, value, old);
    // Only the first arming, the main flow's, is slowed.
    int delay = s_recorder.delayAfterArmingMicroseconds;
    s_recorder.delayAfterArmingMicroseconds = 0;
    BusyWait(delay);
    return result;
}

extern "C" int pause()
{
    ++s_recorder.pauses;
    if (s_recorder.duringPause)
        s_recorder.duringPause();
    return s_recorder.passThrough ? Real<int (*)()>("pause")() : -1;
}

namespace {

class PacingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_recorder = Recorder();
        signal(SIGALRM, SIG_DFL);
        NET_Sleep = nullptr;
    }
};

void ExpectOneShot(const itimerval& timer, long seconds, long microseconds)
{
    EXPECT_EQ(timer.it_value.tv_sec, seconds);
    EXPECT_EQ(timer.it_value.tv_usec, microseconds);
    EXPECT_EQ(timer.it_interval.tv_sec, 0);
    EXPECT_EQ(timer.it_interval.tv_usec, 0);
}

sighandler_t AlarmHandler()
{
    struct sigaction current;
    sigaction(SIGALRM, nullptr, &current);
    return current.sa_handler;
}

TEST_F(PacingTest, TimerSleepArmsAOneShotOfTheDelayThenWaits)
{
    Sys_Sleep_Timer(1);
    ASSERT_EQ(s_recorder.timers.size(), 1u);
    ExpectOneShot(s_recorder.timers[0], 0, 1000);
    EXPECT_EQ(s_recorder.pauses, 1);

    Sys_Sleep_Timer(2500);
    ASSERT_EQ(s_recorder.timers.size(), 2u);
    ExpectOneShot(s_recorder.timers[1], 2, 500000);
}

TEST_F(PacingTest, TimerSleepTreatsANonPositiveDelayAsOneMillisecond)
{
    // A zero timer would disarm the timer and leave pause waiting forever.
    Sys_Sleep_Timer(0);
    Sys_Sleep_Timer(-5);
    ASSERT_EQ(s_recorder.timers.size(), 2u);
    ExpectOneShot(s_recorder.timers[0], 0, 1000);
    ExpectOneShot(s_recorder.timers[1], 0, 1000);
}

TEST_F(PacingTest, TimerSleepSkipsTheWaitWhenArmingFails)
{
    s_recorder.setitimerResult = -1;
    Sys_Sleep_Timer(1);
    EXPECT_EQ(s_recorder.pauses, 0);
    // The sleep is over, so a late alarm arms nothing.
    alarmFunc(SIGALRM);
    EXPECT_EQ(s_recorder.timers.size(), 1u);
}

TEST_F(PacingTest, AnAlarmDuringTheWaitRearmsOneMillisecond)
{
    s_recorder.duringPause = [] { alarmFunc(SIGALRM); };
    Sys_Sleep_Timer(5);
    ASSERT_EQ(s_recorder.timers.size(), 2u);
    ExpectOneShot(s_recorder.timers[1], 0, 1000);
    EXPECT_EQ(AlarmHandler(), &alarmFunc);
}

TEST_F(PacingTest, AnAlarmBetweenSleepsOnlyReinstallsTheHandler)
{
    Sys_Sleep_Timer(1);
    signal(SIGALRM, SIG_DFL);
    alarmFunc(SIGALRM);
    EXPECT_EQ(s_recorder.timers.size(), 1u);
    EXPECT_EQ(AlarmHandler(), &alarmFunc);
}

TEST_F(PacingTest, SelectSleepWaitsOnNoDescriptors)
{
    Sys_Sleep_Select(1);
    EXPECT_EQ(s_recorder.selects, 1);
    EXPECT_EQ(s_recorder.lastSelectCount, 1);
    EXPECT_TRUE(s_recorder.lastSelectWithoutSets);
    EXPECT_EQ(s_recorder.lastSelectTimeout.tv_sec, 0);
    EXPECT_EQ(s_recorder.lastSelectTimeout.tv_usec, 1000);
}

TEST_F(PacingTest, PlainSleepSleepsTheDelay)
{
    Sys_Sleep_Old(1);
    Sys_Sleep_Old(7);
    EXPECT_EQ(s_recorder.usleeps, (std::vector<useconds_t>{1000, 7000}));
}

int s_netSleeps = 0;
int CountingNetSleep()
{
    return ++s_netSleeps;
}

TEST_F(PacingTest, NetSleepUsesTheEnginesWaitOrElseSleepsItself)
{
    Sys_Sleep_Net(1);
    EXPECT_EQ(s_recorder.usleeps, std::vector<useconds_t>{1000});

    s_netSleeps = 0;
    NET_Sleep = CountingNetSleep;
    Sys_Sleep_Net(1);
    Sys_Sleep_Net(500);
    EXPECT_EQ(s_netSleeps, 2);
    EXPECT_EQ(s_recorder.usleeps.size(), 1u);
}

TEST_F(PacingTest, PingboostValuesChooseTheirStrategies)
{
    Pacing_Choose(2, nullptr);
    EXPECT_EQ(Sys_Sleep, &Sys_Sleep_Select);
    for (long other : {0L, 4L, -1L, 1000L}) {
        Pacing_Choose(other, nullptr);
        EXPECT_EQ(Sys_Sleep, &Sys_Sleep_Old) << other;
    }
    EXPECT_EQ(AlarmHandler(), SIG_DFL);
    Pacing_Choose(1, nullptr);
    EXPECT_EQ(Sys_Sleep, &Sys_Sleep_Timer);
    EXPECT_EQ(AlarmHandler(), &alarmFunc);
}

TEST_F(PacingTest, ChoosingAStrategyAsksForTheLeastTimerSlack)
{
    prctl(PR_SET_TIMERSLACK, 50000);
    Pacing_Choose(0, nullptr);
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK), 1);
}

TEST_F(PacingTest, OnlyTheEngineSleepStrategyKeepsTheEnginesSleep)
{
    Pacing_Choose(3, CountingNetSleep);
    EXPECT_EQ(Sys_Sleep, &Sys_Sleep_Net);
    EXPECT_EQ(NET_Sleep, &CountingNetSleep);

    // A module loaded again without the symbol, then unloaded.
    Pacing_SetEngineNetSleep(nullptr);
    EXPECT_EQ(NET_Sleep, nullptr);
    EXPECT_EQ(Sys_Sleep, &Sys_Sleep_Net);

    // Another strategy never keeps the engine's sleep.
    Pacing_Choose(2, CountingNetSleep);
    EXPECT_EQ(NET_Sleep, nullptr);
    Pacing_SetEngineNetSleep(CountingNetSleep);
    EXPECT_EQ(NET_Sleep, nullptr);
}

// Runs body in a child process; false when it did not end by itself
// within the limit.
bool EndsWithin(int milliseconds, const std::function<void()>& body)
{
    pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    return WaitForExit(child, milliseconds, &status) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(PacingTest, AnAlarmBeforeTheWaitBeginsCannotStrandIt)
{
    // The alarm of the 1 ms timer fires before pause is reached; the
    // handler's re-arming must end the wait.
    EXPECT_TRUE(EndsWithin(3000, [] {
        s_recorder.passThrough = true;
        s_recorder.delayAfterArmingMicroseconds = 20000;
        signal(SIGALRM, alarmFunc);
        Sys_Sleep_Timer(1);
    }));
}

TEST_F(PacingTest, RealTimerSleepsEndByThemselves)
{
    EXPECT_TRUE(EndsWithin(3000, [] {
        s_recorder.passThrough = true;
        signal(SIGALRM, alarmFunc);
        for (int i = 0; i < 200; ++i)
            Sys_Sleep_Timer(1);
    }));
}

}  // namespace
