#include "launcher_spawn.h"

#include "monotonic.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

const char* const kEventLogName = "events.log";

namespace {

// Under the address sanitizer, crash signals stay the launcher's to handle,
// and a preloaded probe may come before the sanitizer's runtime.
const char* const kSanitizerOptions =
    "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
    "verify_asan_link_order=0";

// What the test modules read from the environment: the test process's own
// values must not reach the child.
const char* const kTestKnobs[] = {"TARN_TEST_FRAMES", "TARN_TEST_CODES", "TARN_TEST_INIT_FAIL",
                                  "TARN_TEST_NO_API", "TARN_TEST_PRINT", "TARN_TEST_CYCLE",
                                  "TARN_TEST_UNLINK_ON_SHUTDOWN", "TARN_TEST_FS_NO_API",
                                  "LD_PRELOAD"};

// Opens path as descriptor target.
void OpenAs(int target, const char* path, int flags)
{
    int fd = open(path, flags, 0644);
    if (fd >= 0 && fd != target) {
        dup2(fd, target);
        close(fd);
    }
}

void SetUpStreams(const Launch& launch)
{
    if (launch.input >= 0 && launch.input != 0) {
        dup2(launch.input, 0);
        close(launch.input);
    }
    const int writeFlags = O_WRONLY | O_CREAT | O_TRUNC;
    OpenAs(1, launch.output.empty() ? "/dev/null" : launch.output.c_str(), writeFlags);
    if (launch.errors == launch.output)
        dup2(1, 2);
    else
        OpenAs(2, launch.errors.empty() ? "/dev/null" : launch.errors.c_str(), writeFlags);
}

void SetUpEnvironment(const Launch& launch)
{
    for (const char* name : kTestKnobs)
        unsetenv(name);
    setenv("ASAN_OPTIONS", kSanitizerOptions, 1);
    setenv("TARN_TEST_LOG", (launch.directory + "/" + kEventLogName).c_str(), 1);
    for (const auto& [name, value] : launch.environment)
        setenv(name.c_str(), value.c_str(), 1);
}

[[noreturn]] void RunProgram(const Launch& launch)
{
    // As a shell starts it: the test runner may have SIGPIPE ignored.
    signal(SIGPIPE, SIG_DFL);
    std::vector<std::string> words = launch.wrapper;
    words.push_back(launch.program);
    words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

}  // namespace

pid_t SpawnLauncher(const Launch& launch)
{
    pid_t child = fork();
    if (child != 0)
        return child;
    if (chdir(launch.directory.c_str()) != 0)
        _exit(127);
    SetUpEnvironment(launch);
    SetUpStreams(launch);
    // As a shell starts a job: a test runner started in the background
    // has SIGINT and SIGQUIT ignored, which the launcher would keep.
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    if (launch.prepare)
        launch.prepare();
    RunProgram(launch);
}

bool WaitForExit(pid_t child, int timeoutMilliseconds, int* status)
{
    if (timeoutMilliseconds < 0)
        return waitpid(child, status, 0) == child;
    bool ended = WaitUntil([&] { return waitpid(child, status, WNOHANG) == child; },
                           timeoutMilliseconds, 1);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, status, 0);
    }
    return ended;
}
