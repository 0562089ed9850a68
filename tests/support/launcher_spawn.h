#ifndef TARN_TESTS_SUPPORT_LAUNCHER_SPAWN_H
#define TARN_TESTS_SUPPORT_LAUNCHER_SPAWN_H

// The one place the tests and benchmarks start the launcher (or the script
// that runs it) as a child process, and wait for its end.

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct Launch {
    std::string directory;  // the child's working directory
    std::string program = TARN_LAUNCHER_PATH;
    std::vector<std::string> arguments;
    std::vector<std::string> wrapper;  // a command the program runs under (valgrind, strace)
    std::vector<std::pair<std::string, std::string>> environment;
    int input = -1;                    // becomes standard input; -1 keeps the one there is
    std::string output = "stdout.txt";  // in directory; "" for /dev/null
    std::string errors = "stderr.txt";  // the name of output too: one file for both
    std::function<void()> prepare;     // last steps in the child, before the program runs
};

// The name of the test modules' event log in the working directory.
extern const char* const kEventLogName;

// Forks a child that takes the launch's directory, environment and standard
// streams and runs the program; returns its process id.
pid_t SpawnLauncher(const Launch& launch);

// Waits for the child's end and gives its wait status. After
// timeoutMilliseconds (never, when negative) the child is killed and
// collected, and the result is false.
bool WaitForExit(pid_t child, int timeoutMilliseconds, int* status);

#endif
