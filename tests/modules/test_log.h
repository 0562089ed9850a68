// Event log of the test modules: one line per event, appended to the file
// named by TARN_TEST_LOG. Written with write() so that nothing is lost when
// the launcher ends with _exit.
#ifndef TARN_TEST_MODULES_TEST_LOG_H
#define TARN_TEST_MODULES_TEST_LOG_H

void TestLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The integer value of an environment variable, or fallback.
int TestEnvInt(const char* name, int fallback);

// True when the comma-separated list in the environment variable holds n.
bool TestEnvListHas(const char* name, int n);

// The n-th (1-based) entry of a comma-separated list, or the last entry
// when the list is shorter, or fallback when it is absent.
int TestEnvListAt(const char* name, int n, int fallback);

#endif
