// The run loop of the real launcher: typed lines reaching the engine, the
// order of a frame's steps, engine restarts, and the pacing strategy that
// each -pingboost value selects (seen through the preloaded pacing probe).
#include "server_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

RunOptions Options(std::vector<std::pair<std::string, std::string>> environment,
                   const std::string& input = "")
{
    RunOptions options;
    options.environment = std::move(environment);
    options.input = input;
    return options;
}

// --- console input ---------------------------------------------------------

TEST(TypedLinesTest, PipedLinesReachTheEngineWithANewlineOnePerFrame)
{
    ServerDir dir;
    RunResult result = dir.Run({}, Options({{"TARN_TEST_FRAMES", "6"}}, "status\necho hi\n\nhelp\n"));
    ExpectCleanEnd(result);
    EXPECT_EQ(Matching(dir.Log(), "submit"),
              (std::vector<std::string>{
                  "submit before_frame=1 length=7 text=[status\\n]",
                  "submit before_frame=2 length=8 text=[echo hi\\n]",
                  "submit before_frame=3 length=5 text=[help\\n]",
              }));
}

TEST(TypedLinesTest, AQuitLineEndsTheServer)
{
    for (Stdin kind : {Stdin::kPipe, Stdin::kPipeKeptOpen}) {
        ServerDir dir;
        RunOptions options = Options({}, "echo hello\nquit\n");
        options.stdinKind = kind;
        RunResult result = dir.Run({}, options);
        ExpectCleanEnd(result);
        // The engine prints the line back; nothing else shows it.
        EXPECT_EQ(result.out, "\nConsole initialized.\necho hello\n");
        EXPECT_EQ(Matching(dir.Log(), "shutdown"), std::vector<std::string>{"shutdown code=3"});
    }
}

TEST(TypedLinesTest, ALongLineIsCutTo254Characters)
{
    ServerDir dir;
    std::string line(300, 'x');
    dir.Run({}, Options({{"TARN_TEST_FRAMES", "2"}}, line + "\n"));
    EXPECT_EQ(Matching(dir.Log(), "submit"),
              std::vector<std::string>{"submit before_frame=1 length=255 text=[" +
                                       std::string(254, 'x') + "\\n]"});
}

TEST(TypedLinesTest, AnEndedInputCostsNothingAndFramesGoOn)
{
    ServerDir dir;
    RunResult result = dir.Run({}, Options({{"TARN_TEST_FRAMES", "50"}}));
    ExpectCleanEnd(result);
    EXPECT_EQ(Matching(dir.Log(), "frame").size(), 50u);
    EXPECT_TRUE(Matching(dir.Log(), "submit").empty());
}

// --- a frame's steps -------------------------------------------------------------

TEST(FrameOrderTest, EveryFrameIsPacedAndPolledFirst)
{
    ServerDir dir;
    RunOptions options = Options({{"TARN_TEST_FRAMES", "3"}}, "go\n");
    options.probe = true;
    RunResult result = dir.Run({}, options);
    ExpectCleanEnd(result);
    std::vector<std::string> log = dir.Log();
    std::vector<std::string> frames = Matching(log, "frame ");
    ASSERT_EQ(frames.size(), 3u);
    // One plain sleep and at least one console poll before each frame.
    EXPECT_NE(frames[0].find("usleep=1/1000 "), std::string::npos) << frames[0];
    EXPECT_NE(frames[1].find("usleep=2/1000 "), std::string::npos) << frames[1];
    EXPECT_NE(frames[2].find("usleep=3/1000 "), std::string::npos) << frames[2];
    EXPECT_EQ(frames[2].find("poll_select=0 "), std::string::npos) << frames[2];
    EXPECT_EQ(First(log, "submit"), "submit before_frame=1 length=3 text=[go\\n]");
}

// --- restarts -------------------------------------------------------------

TEST(RestartTest, AnyCodeButThreeReloadsAndStartsTheEngineAgain)
{
    ServerDir dir;
    RunResult result = dir.Run({"-world", "x"}, Options({{"TARN_TEST_FRAMES", "2"}, {"TARN_TEST_CODES", "0,1,-1,3"}}));
    ExpectCleanEnd(result);
    std::vector<std::string> log = dir.Log();
    // image_starts=1 every time: the module was unloaded and loaded afresh.
    EXPECT_EQ(Matching(log, "initialize"),
              (std::vector<std::string>{"initialize cycle=1 image_starts=1",
                                        "initialize cycle=2 image_starts=1",
                                        "initialize cycle=3 image_starts=1",
                                        "initialize cycle=4 image_starts=1"}));
    EXPECT_EQ(Matching(log, "shutdown"),
              (std::vector<std::string>{"shutdown code=0", "shutdown code=1", "shutdown code=-1",
                                        "shutdown code=3"}));
    EXPECT_EQ(Last(Matching(log, "cmdline=")), "cmdline=[-world x -lumen]");
    EXPECT_EQ(Matching(log, "frame").size(), 8u);
    EXPECT_EQ(Matching(log, "filesystem"),
              (std::vector<std::string>{"filesystem activate", "filesystem=yes", "filesystem=yes",
                                        "filesystem=yes", "filesystem=yes", "filesystem deactivate"}));
}

TEST(RestartTest, ATypedRestartRestartsAndATypedQuitEnds)
{
    ServerDir dir;
    RunResult result = dir.Run({}, Options({}, "restart\nquit\n"));
    ExpectCleanEnd(result);
    EXPECT_EQ(Matching(dir.Log(), "shutdown"),
              (std::vector<std::string>{"shutdown code=0", "shutdown code=3"}));
}

TEST(RestartTest, AnEngineThatFailsOnRestartEndsTheRunWith255)
{
    ServerDir dir;
    RunResult result = dir.Run({}, Options({{"TARN_TEST_FRAMES", "1"}, {"TARN_TEST_CODES", "0"},
                                            {"TARN_TEST_INIT_FAIL", "2"}}));
    ExpectFailedStart(result);
    std::vector<std::string> log = dir.Log();
    EXPECT_EQ(Matching(log, "initialize").size(), 3u);  // two starts and one failure line
    EXPECT_EQ(Matching(log, "shutdown").size(), 1u);
    EXPECT_EQ(Last(log), "filesystem deactivate");
}

TEST(RestartTest, AnEngineModuleGoneAtRestartIsReportedAndTheRunEnds)
{
    ServerDir dir;
    RunResult result = dir.Run({}, Options({{"TARN_TEST_FRAMES", "1"}, {"TARN_TEST_CODES", "0"},
                                            {"TARN_TEST_UNLINK_ON_SHUTDOWN", "1"}}));
    ExpectFailedStart(result);
    // Standard output is a file here: the loader's line and the message
    // must not be lost in a buffer when the process ends.
    EXPECT_EQ(result.out, "\nConsole initialized.\n" +
                              ("Error:" + dir.File("engine_amd.so") +
                               ": cannot open shared object file: No such file or directory\n") +
                              "Unable to load engine, image is corrupt.\n");
    EXPECT_EQ(Last(dir.Log()), "filesystem deactivate");
}

// --- pacing strategies ------------------------------------------------------

struct Pacing {
    std::string frame;   // the first frame's log entry, with probe counters
    std::string alarm;   // the SIGALRM disposition the engine found
};

Pacing FirstFrame(const std::vector<std::string>& arguments, const std::string& engine = "test_engine")
{
    ServerDir dir(engine);
    RunOptions options = Options({{"TARN_TEST_FRAMES", "1"}});
    options.probe = true;
    RunResult result = dir.Run(arguments, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    std::vector<std::string> log = dir.Log();
    return {First(log, "frame 1 "), First(log, "sigalrm=")};
}

const char* const kPlainSleep = "net_sleeps=0 probe=usleep=1/1000 sleep_select=0/";
const char* const kSelectSleep = "net_sleeps=0 probe=usleep=0/0 sleep_select=1/1/0.001000 ";
const char* const kTimerSleep = "/0.001000/0.000000 pause=1";  // the last arming: 1 ms, once

// How often the interval timer was armed before the frame entry.
int TimerArmings(const std::string& frame)
{
    size_t at = frame.find("setitimer=");
    return at == std::string::npos ? -1 : std::atoi(frame.c_str() + at + 10);
}

TEST(PacingSwitchTest, PlainSleepIsTheDefaultAndTakesEveryOtherValue)
{
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"-pingboost", "0"}, {"-pingboost", "4"},
                                               {"-pingboost", "-1"}, {"-pingboost", "abc"},
                                               {"-pingboost"}}) {
        Pacing pacing = FirstFrame(arguments);
        EXPECT_TRUE(Contains(pacing.frame, kPlainSleep)) << arguments.size() << pacing.frame;
        EXPECT_TRUE(Contains(pacing.frame, "setitimer=0/")) << pacing.frame;
        EXPECT_EQ(pacing.alarm, "sigalrm=default");
    }
}

TEST(PacingSwitchTest, OneIsTheIntervalTimerWithItsAlarmHandler)
{
    for (const char* value : {"1", "+1", "\t1"}) {
        Pacing pacing = FirstFrame({"-pingboost", value});
        // The second arming is the handler's, made while the sleep waited;
        // a process held up before the wait is marked over takes a third.
        EXPECT_GE(TimerArmings(pacing.frame), 2) << value << pacing.frame;
        EXPECT_TRUE(Contains(pacing.frame, kTimerSleep)) << value << pacing.frame;
        EXPECT_TRUE(Contains(pacing.frame, "usleep=0/")) << pacing.frame;
        EXPECT_EQ(pacing.alarm, "sigalrm=handler");
    }
}

TEST(PacingSwitchTest, TwoIsSelectWithoutDescriptors)
{
    for (const char* value : {"2", "2abc"}) {
        Pacing pacing = FirstFrame({"-pingboost", value});
        EXPECT_TRUE(Contains(pacing.frame, kSelectSleep)) << value << pacing.frame;
        EXPECT_EQ(pacing.alarm, "sigalrm=default");
    }
}

TEST(PacingSwitchTest, ThreeIsTheEnginesNetworkSleep)
{
    Pacing pacing = FirstFrame({"-pingboost", "3"});
    EXPECT_TRUE(Contains(pacing.frame, "net_sleeps=1 probe=usleep=0/0 sleep_select=0/")) << pacing.frame;
}

TEST(PacingSwitchTest, ThreeWithoutTheEnginesSleepSleepsPlainly)
{
    Pacing pacing = FirstFrame({"-pingboost", "3"}, "test_engine_nonet");
    EXPECT_TRUE(Contains(pacing.frame, "net_sleeps=0 probe=usleep=1/1000 ")) << pacing.frame;
}

TEST(PacingSwitchTest, ThreeFindsTheEnginesSleepAgainAfterARestart)
{
    ServerDir dir;
    RunOptions options = Options({{"TARN_TEST_FRAMES", "2"}, {"TARN_TEST_CODES", "0,3"}});
    options.probe = true;
    RunResult result = dir.Run({"-pingboost", "3"}, options);
    ExpectCleanEnd(result);
    std::vector<std::string> frames = Matching(dir.Log(), "frame ");
    ASSERT_EQ(frames.size(), 4u);
    // The counter lives in the module image: a fresh image counts from 0.
    EXPECT_TRUE(Contains(frames[2], "frame 1 net_sleeps=1 probe=usleep=0/0 ")) << frames[2];
    EXPECT_TRUE(Contains(frames[3], "frame 2 net_sleeps=2 probe=usleep=0/0 ")) << frames[3];
}

}  // namespace
