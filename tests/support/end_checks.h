// Checks of how a launcher run ended, shared by the end-to-end tests.
#ifndef TARN_TESTS_SUPPORT_END_CHECKS_H
#define TARN_TESTS_SUPPORT_END_CHECKS_H

#include "server_run.h"

#include <gtest/gtest.h>

// The engine did not start: status 255, for a supervisor to retry, and
// nothing on standard error.
inline void ExpectFailedStart(const RunResult& result)
{
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.err, "");
}

#endif
