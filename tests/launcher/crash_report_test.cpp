// Crash and hang reports through the real launcher, with a test engine that
// crashes or hangs on command.
#include "control_client.h"
#include "pty_job.h"
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUid = 30124;
const char* const kPrinted = "before the fall\n";

enum class By { kTerminal, kControlClient, kSigterm };

struct Crash {
    const char* name;
    std::pair<std::string, std::string> knob;
    By by;  // how the line below reaches the launcher, or a SIGTERM instead
    const char* line;
    bool hangs;  // ended from outside with SIGABRT once its frame hangs
    int signal;
    const char* error;     // the first line's start
    const char* phase;     // and its end
    const char* function;  // named in the backtrace
    const char* trace;     // the function trace, newest first
};

const Crash kCrashes[] = {
    {"a null write in RunFrame", {"TARN_TEST_CRASH", "11"}, By::kControlClient, "crash\n", false, SIGSEGV,
     "Error:SIGSEGV (11) at 0x0,", "the engine was inside RunFrame", "TestEngine_CrashWith",
     "control line: crash\nengine start 1\n"},
    {"a stack overflow", {"TARN_TEST_CRASH", "0"}, By::kTerminal, "say secret\ncrash\n", false, SIGSEGV,
     "Error:SIGSEGV (11) at 0x", "the engine was inside RunFrame", "TestEngine_RecurseWithoutBound",
     "console line: crash\nconsole line: say\nengine start 1\n"},
    {"abort() in Shutdown", {"TARN_TEST_ABORT_IN_SHUTDOWN", "1"}, By::kSigterm, "", false, SIGABRT,
     "Error:SIGABRT (6),", "the engine was inside Shutdown", "TestEngine_CrashWith",
     "stop signal SIGTERM\nengine start 1\n"},
    {"a watchdog's SIGABRT in a hung frame", {"TARN_TEST_HANG_MS", "0"}, By::kTerminal, "hang\n", true, SIGABRT,
     "Error:SIGABRT (6),", "the engine was inside RunFrame", "TestEngine_Hang", "console line: hang\nengine start 1\n"},
};

TEST(CrashReportTest, EachFatalSignalLeavesAReportOfWhereWhatAndWhatCameBefore)
{
    for (const Crash& crash : kCrashes) {
        SCOPED_TRACE(crash.name);
        ServerDir dir;
        PtyOptions options;
        options.environment = {crash.knob, {"TARN_TEST_PRINT", kPrinted}};
        PtyJob job(dir, {"-pingboost", "3", "-controlsocket", dir.File("control")}, options);
        ASSERT_TRUE(job.WaitRaw());
        ControlClient client(dir.File("control"));
        if (crash.by == By::kTerminal)
            job.Type(crash.line);
        else if (crash.by == By::kControlClient)
            client.Send(crash.line);
        else if (dir.WaitForLog("initialize cycle="))  // a stop before the start shuts nothing down
            kill(job.Launcher(), SIGTERM);
        if (crash.hangs) {
            ASSERT_TRUE(dir.WaitForLog("stuck in a frame"));
            kill(job.Launcher(), SIGABRT);
        }
        EXPECT_EQ(job.NextEvent(), "signaled " + std::to_string(crash.signal));
        EXPECT_TRUE(job.WaitRestored());
        std::string report = dir.Read("errorlogs/errorlog00001.txt");
        std::string first = report.substr(0, report.find('\n'));
        EXPECT_EQ(first.rfind(crash.error, 0), 0u) << first;
        EXPECT_EQ(first.substr(first.rfind(", ") + 2), crash.phase);
        size_t backtrace = report.find("\n\nFunction trace:\n" + std::string(crash.trace) + "\nBacktrace:\n");
        EXPECT_NE(backtrace, std::string::npos) << report;
        EXPECT_GT(report.find(crash.function), backtrace) << report;
        EXPECT_NE(report.find("\nLast output:\n\nConsole initialized.\n" + std::string(kPrinted)),
                  std::string::npos) << report;
        EXPECT_NE(report.find("\nCommand line: -pingboost 3 -controlsocket " + dir.File("control") + " -lumen\nUptime: "),
                  std::string::npos);
        EXPECT_NE(report.find("\nEngine starts: 1\n"), std::string::npos);
        EXPECT_EQ(Count(dir.Read("stdout.txt"), "Crash report: errorlogs/errorlog00001.txt\n"), 1u);
    }
}

TEST(CrashReportTest, TakesTheNextFreeNumberAndSaysWhyWhenItCannotWriteOne)
{
    ServerDir dir;
    std::filesystem::create_directory(dir.File("errorlogs"));
    dir.Write("errorlogs/errorlog00001.txt", "an operator's own");
    RunOptions options;
    options.input = "restart\ncrash\n";
    options.environment = {{"TARN_TEST_CRASH", "11"}};
    RunResult second = dir.Run({}, options);
    EXPECT_EQ(second.signal, SIGSEGV);
    EXPECT_EQ(Count(second.out, "Crash report: errorlogs/errorlog00002.txt\n"), 1u) << second.out;
    EXPECT_NE(dir.Read("errorlogs/errorlog00002.txt").find("\nFunction trace:\nconsole line: crash\nengine start 2\n"
                                                           "restart\nconsole line: restart\nengine start 1\n\n"),
              std::string::npos);
    if (std::system("unshare --pid --fork --mount-proc true >/dev/null 2>&1") == 0) {
        options.wrapper = {"unshare", "--pid", "--fork", "--mount-proc"};
        RunResult asInit = dir.Run({}, options);  // PID 1 exits with the status a shell shows
        EXPECT_EQ(asInit.exitStatus, 128 + SIGSEGV);
        EXPECT_EQ(Count(asInit.out, "Crash report: errorlogs/errorlog00003.txt\n"), 1u);
        options.wrapper.clear();
    }
    EXPECT_EQ(dir.Read("errorlogs/errorlog00001.txt"), "an operator's own");
    // A folder that the launcher's user may not write; root may write anything,
    // so it runs as another user, from a copy that user can reach.
    chmod(dir.File("errorlogs").c_str(), 0555);
    chmod(dir.Path().c_str(), 0777);
    options.program = dir.File("tarn-launcher");
    std::filesystem::copy_file(TARN_LAUNCHER_PATH, options.program);
    if (geteuid() == 0 && !ReachableAs(kOtherUid, options.program))
        TARN_SKIP("a crash report that its user may not write", "another user cannot reach " + dir.Path());
    options.prepare = [] {
        if (geteuid() == 0 && setuid(kOtherUid) != 0)
            _exit(127);
    };
    RunResult readOnly = dir.Run({}, options);
    EXPECT_EQ(readOnly.signal, SIGSEGV);
    EXPECT_EQ(Count(readOnly.out, "Crash report: not written, the errorlogs folder is not writable\n"), 1u)
        << readOnly.out;
    // No errorlogs, and a server directory that the user may not write.
    std::filesystem::remove_all(dir.File("errorlogs"));
    chmod(dir.Path().c_str(), 0755);
    RunResult noFolder = dir.Run({}, options);
    EXPECT_EQ(Count(noFolder.out, "Crash report: not written, the server directory is not writable\n"), 1u)
        << noFolder.out;
}

// What a crash on a disk that fills leaves: nothing, or the start of a
// report, and a line on standard output that says which.
TEST(CrashReportTest, AReportThatDoesNotFitIsSaidToBeMissingOrCutShort)
{
    const std::pair<size_t, const char*> kFilledBeforeAndSaid[] = {
        {16384, "Crash report: not written, the disk is full\n"},
        {12288, "Crash report: errorlogs/errorlog00001.txt, cut short: the disk is full\n"}};
    for (const auto& [filled, said] : kFilledBeforeAndSaid) {
        ServerDir dir;
        std::string errorlogs = dir.File("errorlogs");
        std::filesystem::create_directory(errorlogs);
        if (mount("tarn", errorlogs.c_str(), "tmpfs", 0, "size=16k") != 0)
            TARN_SKIP("a crash report on a full disk", std::string("no 16 KiB tmpfs: ") + std::strerror(errno));
        std::shared_ptr<void> unmount(nullptr, [&](void*) { umount2(errorlogs.c_str(), MNT_DETACH); });
        dir.Write("errorlogs/filler", std::string(filled, 'f'));
        RunOptions options;
        // Lines with long first words: a function trace of over 4 KiB.
        for (int i = 0; i < 20; ++i)
            options.input += std::string(200, 'w') + "\n";
        options.input += "crash\n";
        options.environment = {{"TARN_TEST_CRASH", "11"}};
        RunResult run = dir.Run({}, options);
        EXPECT_EQ(run.signal, SIGSEGV);
        EXPECT_EQ(Count(run.out, said), 1u) << run.out;
        std::string report = dir.Read("errorlogs/errorlog00001.txt");
        EXPECT_TRUE(filled == 16384 ? report == "<missing>" : report.rfind("Error:SIGSEGV", 0) == 0) << report;
    }
}

// errorlogs may lead to a folder elsewhere, such as a bigger disk; a log's
// own name never leads anywhere.
TEST(CrashReportTest, FollowsErrorlogsToAFolderElsewhereButNoLogsLink)
{
    ServerDir dir, elsewhere;
    std::filesystem::create_directory_symlink(elsewhere.Path(), dir.File("errorlogs"));
    std::filesystem::create_symlink(dir.File("outside.txt"), elsewhere.File("errorlog00001.txt"));
    RunOptions options;
    options.input = "crash\n";
    options.environment = {{"TARN_TEST_CRASH", "11"}};
    EXPECT_EQ(Count(dir.Run({}, options).out, "Crash report: errorlogs/errorlog00002.txt\n"), 1u);
    EXPECT_TRUE(elsewhere.Read("errorlog00002.txt").rfind("Error:SIGSEGV", 0) == 0 && !dir.Exists("outside.txt"));
}

}  // namespace
