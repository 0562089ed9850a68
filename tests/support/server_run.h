#ifndef TARN_TESTS_SUPPORT_SERVER_RUN_H
#define TARN_TESTS_SUPPORT_SERVER_RUN_H

// Runs the real launcher in a temporary server directory holding the test
// modules under the names the launcher loads.

#include "text_match.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

enum class Stdin {
    kPipe,          // input written to a pipe, which is then closed
    kPipeKeptOpen,  // input written to a pipe that stays open until the end
    kDevNull,
    kEmptyFile,
    kClosed,        // descriptor 0 not open at all
    kForeignTerminal,  // a terminal that is not the controlling terminal
};

struct RunOptions {
    std::string input;
    Stdin stdinKind = Stdin::kPipe;
    std::vector<std::pair<std::string, std::string>> environment;
    bool probe = false;       // preload the pacing probe
    bool newSession = false;  // start without a controlling terminal
    bool stdoutReaderGone = false;  // standard output a pipe whose reader has closed it
    int output = -1;  // a descriptor to be standard output instead of "stdout.txt"
    std::function<void()> prepare;  // last steps in the child, before the launcher runs
    // A command the launcher runs under, instead of TARN_TEST_WRAPPER's.
    std::vector<std::string> wrapper;
    std::string program = TARN_LAUNCHER_PATH;  // or a copy, for a user who cannot reach the build
    int timeoutMilliseconds = 20000;
};

struct RunResult {
    pid_t pid = 0;
    bool timedOut = false;
    bool exited = false;
    int exitStatus = -1;
    int signal = 0;
    std::string out;
    std::string err;
};

// When TARN_TEST_WRAPPER is set (for example to a valgrind command line),
// the launcher runs under that command.
class ServerDir {
public:
    // engine and fileSystem name test modules of this build, or give a path
    // to any module ("" leaves one out).
    explicit ServerDir(const std::string& engine = "test_engine",
                       const std::string& fileSystem = "test_filesystem");
    ~ServerDir();
    ServerDir(const ServerDir&) = delete;
    ServerDir& operator=(const ServerDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;  // "<missing>" when absent
    bool Exists(const std::string& name) const;
    // What the launcher wrote on standard error.
    std::string Errors() const;
    // The test modules' event log, one entry per line.
    std::vector<std::string> Log() const;
    // Waits until count entries of the log begin with prefix; false after
    // timeoutMilliseconds.
    bool WaitForLog(const std::string& prefix, size_t count = 1,
                    int timeoutMilliseconds = 20000) const;

    RunResult Run(const std::vector<std::string>& arguments, const RunOptions& options = {}) const;

private:
    std::string path_;
};

// A launcher left running in the background: lines can be typed to it and
// signals sent while it runs; Finish closes its input and collects it like
// ServerDir::Run. The destructor kills a launcher that is still running.
class RunningServer {
public:
    RunningServer(const ServerDir& dir, const std::vector<std::string>& arguments,
                  const RunOptions& options = {});
    ~RunningServer();
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    pid_t Pid() const { return pid_; }
    // Writes text to the launcher's standard input.
    void Type(const std::string& text) const;
    void Signal(int number) const;
    // Everything the launcher printed so far.
    std::string Output() const;
    // Waits until the output holds text count times; false when the
    // launcher ended first or options.timeoutMilliseconds passed.
    bool WaitForOutput(const std::string& text, int count = 1) const;
    // Closes standard input and waits for the end.
    RunResult Finish();

private:
    bool Ended() const;

    const ServerDir& dir_;
    RunOptions options_;
    pid_t pid_ = -1;
    int input_ = -1;
    bool finished_ = false;
};

// In time, by exiting with status 0, with nothing on standard error.
void ExpectCleanEnd(const RunResult& result);
// The engine did not start: status 255, for a supervisor to retry, and
// nothing on standard error.
void ExpectFailedStart(const RunResult& result);

// True when a process of uid, with the caller's groups, may search or run
// path: a directory or program that such a process needs.
bool ReachableAs(uid_t uid, const std::string& path);

// The path of a test module of this build by name; a path stays as it is.
std::string TestModule(const std::string& name);
// The environment that preloads the test module name into the launcher. It
// names the file alone, found through the library path: a preloaded path
// cannot hold a space, and the checkout's path may.
std::vector<std::pair<std::string, std::string>> PreloadOf(const std::string& name);

#endif
