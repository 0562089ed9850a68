// tarn-run: keeps a server running without a service manager.
//
//   tarn-run [-d SERVER_DIRECTORY] [LAUNCHER SWITCHES...]
//
// Runs tarn-launcher in the server directory (default: the current one) as
// its own child, in the same process group, so that the terminal's console
// and Ctrl-C and Ctrl-Z work as if the launcher had been started directly.
// A status of 0 (the engine quit) ends tarn-run with it. Any other status,
// or death by a signal, starts the launcher again after a pause that
// doubles from 1 to 60 seconds and falls back to 1 after a run of 5 minutes.
// SIGTERM and SIGINT sent to tarn-run are passed on to the launcher, and
// tarn-run then ends with the launcher; a Ctrl-C from the terminal already
// reached the launcher and is not passed on twice. tarn-run never changes
// the terminal's settings: the launcher gives them back itself.
//
// TARN_LAUNCHER names the launcher when it is not ./tarn-launcher.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFirstPause = 1;
constexpr int kLongestPause = 60;
constexpr int kSettledSeconds = 300;

volatile std::sig_atomic_t s_stopping = 0;
volatile pid_t s_child = 0;

// A signal sent to tarn-run alone goes on to the launcher; one that the
// terminal sent to the whole process group reached the launcher already.
void OnStopSignal(int signalNumber, siginfo_t* info, void*)
{
    s_stopping = signalNumber;
    if (s_child > 0 && info->si_code != SI_KERNEL)
        kill(s_child, signalNumber);
}

void InstallHandlers()
{
    struct sigaction action {};
    action.sa_sigaction = OnStopSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

[[noreturn]] void ExecLauncher(const char* launcher, char** switches)
{
    std::vector<char*> argv{const_cast<char*>(launcher)};
    for (char** word = switches; *word; ++word)
        argv.push_back(*word);
    argv.push_back(nullptr);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execv(launcher, argv.data());
    std::printf("tarn-run: cannot start %s (%s)\n", launcher, std::strerror(errno));
    std::fflush(stdout);
    _exit(127);
}

// Runs the launcher once; its wait status.
int RunOnce(const char* launcher, char** switches)
{
    pid_t child = fork();
    if (child == 0)
        ExecLauncher(launcher, switches);
    s_child = child;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    s_child = 0;
    return status;
}

// The shell's way of reporting a wait status: the exit status, or 128 and
// the signal number.
int ShellStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ReportEnd(int status, int pause)
{
    if (WIFSIGNALED(status))
        std::printf("tarn-run: the launcher was ended by signal %d; starting it again in %d s\n",
                    WTERMSIG(status), pause);
    else
        std::printf("tarn-run: the launcher ended with status %d; starting it again in %d s\n",
                    WEXITSTATUS(status), pause);
    std::fflush(stdout);
}

// Sleeps, but wakes for a stop signal.
void Pause(int seconds)
{
    timespec left{seconds, 0};
    while (!s_stopping && nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-d") == 0) {
        if (chdir(argv[2]) != 0) {
            std::printf("tarn-run: no server directory %s\n", argv[2]);
            return 2;
        }
        first = 3;
    }
    const char* launcher = std::getenv("TARN_LAUNCHER");
    if (!launcher || !*launcher)
        launcher = "./tarn-launcher";
    InstallHandlers();

    for (int pause = kFirstPause;;) {
        time_t started = time(nullptr);
        int status = RunOnce(launcher, argv + first);
        if (status == 0 || s_stopping)
            return ShellStatus(status);
        if (time(nullptr) - started >= kSettledSeconds)
            pause = kFirstPause;
        ReportEnd(status, pause);
        Pause(pause);
        if (s_stopping)
            return ShellStatus(status);
        pause = pause * 2 > kLongestPause ? kLongestPause : pause * 2;
    }
}
