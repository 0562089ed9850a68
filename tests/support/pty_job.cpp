#include "pty_job.h"

#include "launcher_spawn.h"
#include "monotonic.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR)
            return;
        if (written > 0)
            done += written;
    }
}

void SetDefaultAction(int signalNumber)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signalNumber, &action, nullptr);
}

// In the launcher's child, with the terminal on standard input: its own
// process group, made the terminal's foreground job unless it runs in the
// background; no core file; SIGHUP as nohup would leave it.
void BecomeJob(const PtyOptions& options)
{
    setpgid(0, 0);
    if (!options.background) {
        sigset_t ttou;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        sigprocmask(SIG_BLOCK, &ttou, nullptr);
        tcsetpgrp(0, getpgrp());
        sigprocmask(SIG_UNBLOCK, &ttou, nullptr);
    }
    if (options.outputOnTerminal)
        dup2(0, 1);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGHUP, options.ignoreHangup ? SIG_IGN : SIG_DFL);
}

// The job-control parent: session leader of the terminal; reports the
// launcher's changes of state on the event pipe until it ends.
[[noreturn]] void RunParent(int slave, int events, const ServerDir& dir,
                            const std::vector<std::string>& arguments, const PtyOptions& options)
{
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    // It must outlive a hang-up of the terminal to report the launcher's end.
    signal(SIGHUP, SIG_IGN);
    Launch launch;
    launch.directory = dir.Path();
    if (!options.program.empty())
        launch.program = options.program;
    launch.arguments = arguments;
    launch.environment = options.environment;
    launch.input = slave;
    launch.prepare = [&options] { BecomeJob(options); };
    pid_t launcher = SpawnLauncher(launch);
    setpgid(launcher, launcher);
    close(slave);
    WriteAll(events, "pid " + std::to_string(launcher) + "\n");
    for (;;) {
        int status = 0;
        if (waitpid(launcher, &status, WUNTRACED | WCONTINUED) != launcher) {
            if (errno == EINTR)
                continue;
            _exit(1);
        }
        if (WIFSTOPPED(status))
            WriteAll(events, "stopped\n");
        else if (WIFCONTINUED(status))
            WriteAll(events, "continued\n");
        else if (WIFEXITED(status))
            WriteAll(events, "exited " + std::to_string(WEXITSTATUS(status)) + "\n");
        else if (WIFSIGNALED(status))
            WriteAll(events, "signaled " + std::to_string(WTERMSIG(status)) + "\n");
        if (WIFEXITED(status) || WIFSIGNALED(status))
            _exit(0);
    }
}

}  // namespace

PtyJob::PtyJob(const ServerDir& dir, const std::vector<std::string>& arguments,
               const PtyOptions& options)
{
    winsize size{};
    size.ws_row = options.rows;
    size.ws_col = options.columns;
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0)
        std::abort();
    tcgetattr(master_, &original_);
    slave_ = fcntl(slave, F_DUPFD_CLOEXEC, 0);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        std::abort();
    parent_ = fork();
    if (parent_ == 0) {
        close(master_);
        close(pipeEnds[0]);
        SetDefaultAction(SIGTTOU);
        RunParent(slave, pipeEnds[1], dir, arguments, options);
    }
    close(slave);
    close(pipeEnds[1]);
    events_ = pipeEnds[0];
    fcntl(master_, F_SETFL, O_NONBLOCK);
    std::string first = NextEvent();
    if (first.rfind("pid ", 0) == 0)
        launcher_ = std::atoi(first.c_str() + 4);
}

PtyJob::~PtyJob()
{
    if (launcher_ > 0) {
        kill(launcher_, SIGKILL);
        kill(launcher_, SIGCONT);
    }
    if (parent_ > 0)
        waitpid(parent_, nullptr, 0);
    close(master_);
    close(slave_);
    close(events_);
}

termios PtyJob::Settings() const
{
    termios settings{};
    tcgetattr(master_, &settings);
    return settings;
}

int PtyJob::SharedFlags() const
{
    return fcntl(slave_, F_GETFL);
}

bool PtyJob::WaitSettings(bool (*wanted)(const termios&, const termios&),
                          int timeoutMilliseconds) const
{
    return WaitUntil([&] { return wanted(Settings(), original_); }, timeoutMilliseconds, 2);
}

bool PtyJob::WaitRaw(int timeoutMilliseconds) const
{
    return WaitSettings(IsRawModeOf, timeoutMilliseconds);
}

bool PtyJob::WaitRestored(int timeoutMilliseconds) const
{
    return WaitSettings(SameSettings, timeoutMilliseconds);
}

void PtyJob::HangUp()
{
    close(master_);
    master_ = -1;
}

void PtyJob::Type(const std::string& bytes) const
{
    WriteAll(master_, bytes);
}

std::string PtyJob::ReadUntil(const std::string& text, int timeoutMilliseconds)
{
    std::string read;
    long long start = MonotonicNanoseconds();
    while (MillisecondsSince(start) < timeoutMilliseconds) {
        if (read.size() >= text.size() && read.compare(read.size() - text.size(), text.size(), text) == 0)
            break;
        pollfd ready{master_, POLLIN, 0};
        if (poll(&ready, 1, 10) <= 0)
            continue;
        char buffer[512];
        ssize_t count = ::read(master_, buffer, sizeof(buffer));
        if (count <= 0 && errno != EAGAIN && errno != EINTR)
            break;  // the launcher's side of the terminal is closed
        if (count > 0)
            read.append(buffer, count);
    }
    return read;
}

std::string PtyJob::ReadFor(int milliseconds)
{
    return ReadUntil(std::string(1, '\0'), milliseconds);
}

std::string PtyJob::ReadSome(size_t most)
{
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN))
        return "";
    std::string read(most, '\0');
    ssize_t count = ::read(master_, read.data(), most);
    read.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return read;
}

std::string PtyJob::NextEvent(int timeoutMilliseconds)
{
    long long start = MonotonicNanoseconds();
    for (;;) {
        size_t newline = pendingEvents_.find('\n');
        if (newline != std::string::npos) {
            std::string event = pendingEvents_.substr(0, newline);
            pendingEvents_.erase(0, newline + 1);
            return event;
        }
        int left = timeoutMilliseconds - MillisecondsSince(start);
        pollfd ready{events_, POLLIN, 0};
        if (poll(&ready, 1, left > 0 ? left : 0) <= 0)
            return "";
        char buffer[128];
        ssize_t count = read(events_, buffer, sizeof(buffer));
        if (count <= 0)
            return "";
        pendingEvents_.append(buffer, count);
    }
}

bool SameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof(a.c_cc)) == 0;
}

bool IsRawModeOf(const termios& settings, const termios& original)
{
    termios expected = original;
    expected.c_lflag &= ~(ICANON | ECHO);
    expected.c_cc[VMIN] = 1;
    expected.c_cc[VTIME] = 0;
    return SameSettings(settings, expected);
}
