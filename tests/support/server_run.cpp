#include "server_run.h"

#include "file_text.h"
#include "launcher_spawn.h"
#include "monotonic.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Opens path as standard input.
void OpenAsStdin(const char* path, int flags)
{
    int fd = open(path, flags, 0644);
    if (fd > 0) {
        dup2(fd, 0);
        close(fd);
    }
}

// In the child, with the pipe already on descriptor 0: what the kind asks.
void SetUpStdin(Stdin kind)
{
    switch (kind) {
    case Stdin::kPipe:
    case Stdin::kPipeKeptOpen:
        break;
    case Stdin::kDevNull:
        OpenAsStdin("/dev/null", O_RDONLY);
        break;
    case Stdin::kEmptyFile:
        OpenAsStdin("empty.txt", O_RDWR | O_CREAT | O_TRUNC);
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
}

// Makes standard output a pipe whose reader has gone.
void CloseReaderOfStdout()
{
    int ends[2];
    if (pipe(ends) != 0)
        return;
    close(ends[0]);
    dup2(ends[1], 1);
    close(ends[1]);
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

// Starts the launcher with the read end of a pipe as standard input and
// returns the write end, open.
pid_t Start(const ServerDir& dir, const std::vector<std::string>& arguments,
            const RunOptions& options, int* input)
{
    // A launcher that ended before reading its input fails the test by what
    // it printed, not by killing the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        std::abort();
    Launch launch;
    launch.directory = dir.Path();
    launch.program = options.program;
    launch.arguments = arguments;
    launch.wrapper = options.wrapper;
    if (launch.wrapper.empty())
        launch.wrapper = Words(std::getenv("TARN_TEST_WRAPPER"));
    launch.environment = options.environment;
    if (options.probe)
        for (const auto& variable : PreloadOf("pacing_probe"))
            launch.environment.push_back(variable);
    launch.input = pipeEnds[0];
    launch.prepare = [&options] {
        if (options.newSession)
            setsid();
        SetUpStdin(options.stdinKind);
        if (options.stdoutReaderGone)
            CloseReaderOfStdout();
        if (options.output >= 0)
            dup2(options.output, 1);
        if (options.prepare)
            options.prepare();
    };
    pid_t child = SpawnLauncher(launch);
    close(pipeEnds[0]);
    *input = pipeEnds[1];
    return child;
}

void Collect(pid_t child, const RunOptions& options, RunResult& result)
{
    int status = 0;
    result.timedOut = !WaitForExit(child, options.timeoutMilliseconds, &status);
    result.exited = WIFEXITED(status);
    result.exitStatus = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace

bool ReachableAs(uid_t uid, const std::string& path)
{
    pid_t child = fork();
    if (child == 0)
        _exit(setuid(uid) != 0 || access(path.c_str(), X_OK) != 0);
    int status = -1;
    return child > 0 && waitpid(child, &status, 0) == child && status == 0;
}

std::vector<std::pair<std::string, std::string>> PreloadOf(const std::string& name)
{
    return {{"LD_PRELOAD", name + ".so"}, {"LD_LIBRARY_PATH", TARN_TEST_MODULE_DIR}};
}

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

void ServerDir::Write(const std::string& name, const std::string& content) const
{
    WriteFile(File(name), content);
}

std::string ServerDir::Read(const std::string& name) const
{
    return ReadFile(File(name));
}

std::string ServerDir::Errors() const
{
    // Under user-mode emulation (the i386 leg on a kernel that runs no
    // 32-bit programs) the emulator itself reports a signal that ends the
    // process; that line is not the launcher's.
    const std::string emulator = "qemu: uncaught target signal ";
    std::string text = Read("stderr.txt");
    if (text == "<missing>")
        return text;
    std::istringstream in(text);
    std::string errors;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, emulator.size(), emulator) != 0)
            errors += line + "\n";
    return errors;
}

bool ServerDir::Exists(const std::string& name) const
{
    return fs::exists(File(name));
}

std::vector<std::string> ServerDir::Log() const
{
    std::vector<std::string> lines;
    std::istringstream in(Read(kEventLogName));
    for (std::string line; std::getline(in, line);)
        if (line != "<missing>")
            lines.push_back(line);
    return lines;
}

bool ServerDir::WaitForLog(const std::string& prefix, size_t count, int timeoutMilliseconds) const
{
    return WaitUntil([&] { return Matching(Log(), prefix).size() >= count; }, timeoutMilliseconds);
}

RunResult ServerDir::Run(const std::vector<std::string>& arguments, const RunOptions& options) const
{
    int input = -1;
    RunResult result;
    result.pid = Start(*this, arguments, options, &input);
    // Small inputs fit the pipe; the launcher reads them as frames go by.
    if (!options.input.empty() && write(input, options.input.data(), options.input.size()) < 0)
        std::abort();
    if (options.stdinKind != Stdin::kPipeKeptOpen)
        close(input);
    Collect(result.pid, options, result);
    if (options.stdinKind == Stdin::kPipeKeptOpen)
        close(input);
    result.out = Read("stdout.txt");
    result.err = Errors();
    return result;
}

RunningServer::RunningServer(const ServerDir& dir, const std::vector<std::string>& arguments,
                             const RunOptions& options)
    : dir_(dir), options_(options)
{
    pid_ = Start(dir, arguments, options, &input_);
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
    auto printed = [&] { return Count(Output(), text) >= static_cast<size_t>(count); };
    return WaitUntil([&] { return printed() || Ended(); }, options_.timeoutMilliseconds) &&
           printed();
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
    result.err = dir_.Errors();
    return result;
}
