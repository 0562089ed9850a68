// The launcher with standard input that is not a terminal: no hang, no echo
// on standard output, and one console poll per frame while nothing comes.
#include "server_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

const int kFrames = 40;

struct StdinCase {
    const char* name;
    Stdin kind;
};

class ConsoleStdinTest : public ::testing::TestWithParam<StdinCase> {};

TEST_P(ConsoleStdinTest, RunsWithoutEchoAndPollsOncePerFrame)
{
    ServerDir dir;
    RunOptions options;
    options.stdinKind = GetParam().kind;
    options.probe = true;
    options.environment = {{"TARN_TEST_FRAMES", std::to_string(kFrames)}};
    RunResult result = dir.Run({}, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "\nConsole initialized.\n");
    EXPECT_EQ(result.err, "");
    std::vector<std::string> log = dir.Log();
    EXPECT_EQ(Matching(log, "frame ").size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(Matching(log, "submit").empty());
    EXPECT_EQ(LastProbedFrame(log).polls, kFrames);
}

std::string CaseName(const ::testing::TestParamInfo<StdinCase>& test)
{
    return test.param.name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, ConsoleStdinTest,
                         ::testing::Values(StdinCase{"OpenPipe", Stdin::kPipeKeptOpen},
                                           StdinCase{"EndedPipe", Stdin::kPipe},
                                           StdinCase{"DevNull", Stdin::kDevNull},
                                           StdinCase{"EmptyFile", Stdin::kEmptyFile},
                                           StdinCase{"Closed", Stdin::kClosed}),
                         CaseName);

TEST(ConsoleFifoTest, AFifoOpenForReadingAndWritingTakesEachWritersLineInTurn)
{
    ServerDir dir;
    mkfifo(dir.File("console").c_str(), 0600);
    // A shell opens it as systemd's socket unit does, so that no writer's end ends the input.
    dir.Write("fifo-stdin.sh", "exec \"$@\" 0<>console\n");
    const char* wrapper = std::getenv("TARN_TEST_WRAPPER");
    std::string saved = wrapper ? wrapper : "";
    setenv("TARN_TEST_WRAPPER", ("sh fifo-stdin.sh " + saved).c_str(), 1);
    RunningServer server(dir, {});
    setenv("TARN_TEST_WRAPPER", saved.c_str(), 1);
    dir.Write("console", "status\n");  // as "echo status > console" does
    ASSERT_TRUE(server.WaitForOutput("status\n"));
    dir.Write("console", "quit\n");
    RunResult result = server.Finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "\nConsole initialized.\nstatus\n");
}

}  // namespace
