#include "server_run.h"

#include <gtest/gtest.h>

namespace {

void ExpectExit(const RunResult& result, int status)
{
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.err, "");
}

}  // namespace

void ExpectCleanEnd(const RunResult& result)
{
    ExpectExit(result, 0);
}

void ExpectFailedStart(const RunResult& result)
{
    ExpectExit(result, 255);
}
