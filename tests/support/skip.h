#pragma once
// A test that cannot run here says so on one line, in the form every leg and
// check of this project uses when it does not run: "Skipped: WHAT (WHY)."
// One grep of a run's output then finds them all. A macro, because
// GTEST_SKIP returns from the test.
#include <gtest/gtest.h>

#define TARN_SKIP(what, why) GTEST_SKIP() << "Skipped: " << (what) << " (" << (why) << ")."
