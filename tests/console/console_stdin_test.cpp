// The launcher with standard input that is not a terminal: no hang, no echo
// on standard output, and one console poll per frame while nothing comes.
#include "server_run.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
