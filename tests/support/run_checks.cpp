#include "server_run.h"

#include <gtest/gtest.h>

void ExpectCleanEnd(const RunResult& result)
{
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
}
