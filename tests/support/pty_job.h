#ifndef TARN_TESTS_SUPPORT_PTY_JOB_H
#define TARN_TESTS_SUPPORT_PTY_JOB_H

// Runs the real launcher with a new pseudo-terminal as its controlling
// terminal and standard input, as the foreground job of a tiny job-control
// parent (the way an interactive shell runs it), so that stopping and
// continuing behave as they do for an operator. Standard output goes to
// "stdout.txt" in the server directory; the terminal receives only echo.

#include "server_run.h"

#include <string>
#include <termios.h>
#include <vector>

struct PtyOptions {
    std::vector<std::pair<std::string, std::string>> environment;
    unsigned short rows = 24;
    unsigned short columns = 80;
    bool ignoreHangup = false;  // start with SIGHUP ignored, as nohup does
    bool background = false;    // leave the launcher out of the foreground, as "&" does
    std::string program = {};   // what the job runs, when not the launcher (tarn-run)
    bool outputOnTerminal = false;  // standard output is the terminal too, not "stdout.txt"
};

class PtyJob {
public:
    PtyJob(const ServerDir& dir, const std::vector<std::string>& arguments,
           const PtyOptions& options = {});
    ~PtyJob();
    PtyJob(const PtyJob&) = delete;
    PtyJob& operator=(const PtyJob&) = delete;

    pid_t Launcher() const { return launcher_; }
    // The terminal's settings when it was created, before the launcher ran.
    const termios& Original() const { return original_; }
    termios Settings() const;
    // The status flags (F_GETFL) of the terminal's description that the
    // launcher's standard streams share with the shell that started it.
    int SharedFlags() const;
    // Waits until the terminal is in raw mode (line mode and echo off), or
    // back in the original line mode; false on timeout.
    bool WaitRaw(int timeoutMilliseconds = 10000) const;
    bool WaitRestored(int timeoutMilliseconds = 10000) const;

    // Closes the terminal's far end, as when an operator's connection drops.
    void HangUp();

    // Writes bytes to the terminal as typed keys.
    void Type(const std::string& bytes) const;
    // Reads what the terminal displayed until it ends with text, or the
    // time passes; returns everything read since the last call.
    std::string ReadUntil(const std::string& text, int timeoutMilliseconds = 10000);
    // Everything displayed for this long.
    std::string ReadFor(int milliseconds);
    // What the terminal holds now, at most most bytes, without waiting.
    std::string ReadSome(size_t most);

    // The next change of the launcher's state as its parent saw it:
    // "stopped", "continued", "exited N" or "signaled N"; "" on timeout.
    std::string NextEvent(int timeoutMilliseconds = 10000);

private:
    bool WaitSettings(bool (*wanted)(const termios&, const termios&), int timeoutMilliseconds) const;

    int master_ = -1;
    int slave_ = -1;  // the shell's description, kept to look at
    int events_ = -1;
    pid_t parent_ = -1;
    pid_t launcher_ = -1;
    termios original_{};
    std::string pendingEvents_;
};

// True when the settings have line mode and echo off and the rest as in
// original, with reads returning every byte at once.
bool IsRawModeOf(const termios& settings, const termios& original);
bool SameSettings(const termios& a, const termios& b);

#endif
