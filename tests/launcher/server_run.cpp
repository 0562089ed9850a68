#include "server_run.h"

#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kLogName = "events.log";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Opens path as descriptor target.
void OpenAs(int target, const char* path, int flags)
{
    int fd = open(path, flags, 0644);
    if (fd >= 0 && fd != target) {
        dup2(fd, target);
        close(fd);
    }
}

void SetUpStdin(Stdin kind, int input)
{
    switch (kind) {
    case Stdin::kPipe:
    case Stdin::kPipeKeptOpen:
        dup2(input, 0);
        break;
    case Stdin::kDevNull:
        OpenAs(0, "/dev/null", O_RDONLY);
        break;
    case Stdin::kEmptyFile:
        OpenAs(0, "empty.txt", O_RDWR | O_CREAT | O_TRUNC);
        break;
    case Stdin::kClosed:
        close(0);
        break;
    case Stdin::kForeignTerminal: {
        // Opened without becoming the controlling terminal.
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0)
            dup2(slave, 0);
        break;
    }
    }
    if (input != 0)
        close(input);
}

// The words of a command line, split at spaces.
std::vector<std::string> Words(const char* text)
{
    std::vector<std::string> words;
    std::istringstream in(text ? text : "");
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// In the child: working directory, environment and standard streams, then
// the launcher itself.
[[noreturn]] void StartLauncher(const ServerDir& dir, const std::vector<std::string>& arguments,
                                const RunOptions& options, int input)
{
    if (chdir(dir.Path().c_str()) != 0)
        _exit(127);
    if (options.newSession)
        setsid();
    // As a shell starts it: the test runner may have SIGPIPE ignored.
    signal(SIGPIPE, SIG_DFL);
    for (const char* name : {"TARN_TEST_FRAMES", "TARN_TEST_CODES", "TARN_TEST_INIT_FAIL",
                             "TARN_TEST_NO_API", "TARN_TEST_PRINT", "TARN_TEST_CYCLE",
                             "TARN_TEST_UNLINK_ON_SHUTDOWN", "TARN_TEST_FS_NO_API", "LD_PRELOAD"})
        unsetenv(name);
    setenv("TARN_TEST_LOG", dir.File(kLogName).c_str(), 1);
    for (const auto& [name, value] : options.environment)
        setenv(name.c_str(), value.c_str(), 1);
    if (options.probe) {
        setenv("LD_PRELOAD", TestModule("pacing_probe").c_str(), 1);
        // A sanitizer runtime wants to come first; the probe only counts.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    OpenAs(1, "stdout.txt", O_WRONLY | O_CREAT | O_TRUNC);
    int noReader[2];
    if (options.stdoutReaderGone && pipe(noReader) == 0) {
        close(noReader[0]);
        dup2(noReader[1], 1);
        close(noReader[1]);
    }
    OpenAs(2, "stderr.txt", O_WRONLY | O_CREAT | O_TRUNC);
    SetUpStdin(options.stdinKind, input);

    std::vector<std::string> wrapper = options.wrapper;
    if (wrapper.empty())
        wrapper = Words(std::getenv("TARN_TEST_WRAPPER"));
    std::vector<char*> argv;
    for (std::string& word : wrapper)
        argv.push_back(word.data());
    argv.push_back(const_cast<char*>(TARN_LAUNCHER_PATH));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

void Collect(pid_t child, const RunOptions& options, RunResult& result)
{
    int status = 0;
    for (int waited = 0;; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        if (waited >= options.timeoutMilliseconds) {
            result.timedOut = true;
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
    result.exited = WIFEXITED(status);
    result.exitStatus = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

void Pause(int milliseconds)
{
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

}  // namespace

std::string TestModule(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    return std::string(TARN_TEST_MODULE_DIR) + "/" + name + ".so";
}

ServerDir::ServerDir(const std::string& engine, const std::string& fileSystem)
{
    std::string pattern = (fs::temp_directory_path() / "tarn-server-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path_ = pattern;
    if (!engine.empty())
        fs::copy_file(TestModule(engine), File("engine_amd.so"));
    if (!fileSystem.empty())
        fs::copy_file(TestModule(fileSystem), File("filesystem_stdio_i386.so"));
}

ServerDir::~ServerDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool ServerDir::WaitForLog(const std::string& prefix, int timeoutMilliseconds) const
{
    for (int waited = 0; waited < timeoutMilliseconds; ++waited) {
        if (First(Log(), prefix) != "<none>")
            return true;
        Pause(1);
    }
    return false;
}

void ServerDir::Write(const std::string& name, const std::string& content) const
{
    std::ofstream(File(name), std::ios::binary) << content;
}

std::string ServerDir::Read(const std::string& name) const
{
    return ReadFile(File(name));
}

bool ServerDir::Exists(const std::string& name) const
{
    return fs::exists(File(name));
}

std::vector<std::string> ServerDir::Log() const
{
    std::vector<std::string> lines;
    std::istringstream in(Read(kLogName));
    for (std::string line; std::getline(in, line);)
        if (line != "<missing>")
            lines.push_back(line);
    return lines;
}

RunResult ServerDir::Run(const std::vector<std::string>& arguments, const RunOptions& options) const
{
    // A launcher that ended before reading its input fails the test by what
    // it printed, not by killing the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        std::abort();
    RunResult result;
    result.pid = fork();
    if (result.pid == 0) {
        close(pipeEnds[1]);
        StartLauncher(*this, arguments, options, pipeEnds[0]);
    }
    close(pipeEnds[0]);
    // Small inputs fit the pipe; the launcher reads them as frames go by.
    if (!options.input.empty() &&
        write(pipeEnds[1], options.input.data(), options.input.size()) < 0)
        std::abort();
    if (options.stdinKind != Stdin::kPipeKeptOpen)
        close(pipeEnds[1]);
    Collect(result.pid, options, result);
    if (options.stdinKind == Stdin::kPipeKeptOpen)
        close(pipeEnds[1]);
    result.out = Read("stdout.txt");
    result.err = Read("stderr.txt");
    return result;
}

std::vector<std::string> Matching(const std::vector<std::string>& log, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : log)
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

std::string First(const std::vector<std::string>& log, const std::string& prefix)
{
    std::vector<std::string> found = Matching(log, prefix);
    return found.empty() ? "<none>" : found.front();
}

std::string Last(const std::vector<std::string>& log)
{
    return log.empty() ? "<none>" : log.back();
}

RunningServer::RunningServer(const ServerDir& dir, const std::vector<std::string>& arguments,
                             const RunOptions& options)
    : dir_(dir), options_(options)
{
    // A launcher that ended early must fail the test, not kill it on a write.
    signal(SIGPIPE, SIG_IGN);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        std::abort();
    pid_ = fork();
    if (pid_ == 0)
        StartLauncher(dir, arguments, options, pipeEnds[0]);
    close(pipeEnds[0]);
    input_ = pipeEnds[1];
    if (!options.input.empty())
        Type(options.input);
}

RunningServer::~RunningServer()
{
    if (input_ >= 0)
        close(input_);
    if (!finished_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void RunningServer::Type(const std::string& text) const
{
    if (write(input_, text.data(), text.size()) < 0)
        return;  // the launcher has ended; what it printed tells why
}

void RunningServer::Signal(int number) const
{
    kill(pid_, number);
}

std::string RunningServer::Output() const
{
    return dir_.Read("stdout.txt");
}

// True once the launcher has ended, without collecting it.
bool RunningServer::Ended() const
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_;
}

bool RunningServer::WaitForOutput(const std::string& text, int count) const
{
    for (int waited = 0; waited < options_.timeoutMilliseconds; waited += 5) {
        if (Occurrences(Output(), text) >= static_cast<size_t>(count))
            return true;
        if (Ended())
            return Occurrences(Output(), text) >= static_cast<size_t>(count);
        Pause(5);
    }
    return false;
}

RunResult RunningServer::Finish()
{
    close(input_);
    input_ = -1;
    RunResult result;
    result.pid = pid_;
    Collect(pid_, options_, result);
    finished_ = true;
    result.out = Output();
    result.err = dir_.Read("stderr.txt");
    return result;
}
