// Error-log files: layout, directory, numbering that never overwrites, files
// that cannot be created, and two processes writing logs at once.

#include "diagnostics_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kLogsPerProcess = 100;

std::string ChildMessage(int child, int log)
{
    return "child " + std::to_string(child) + " log " + std::to_string(log);
}

// Waits until the parent closes the pipe, then writes its logs, each with
// one trace entry of its own. Never returns.
[[noreturn]] void WriteLogsAsChild(int child, int startPipe)
{
    char byte;
    if (read(startPipe, &byte, 1) != 0)
        _exit(2);
    for (int log = 0; log < kLogsPerProcess; ++log) {
        _LogFunctionTrace(ChildMessage(child, log).c_str(), ":trace");
        Error("%s", ChildMessage(child, log).c_str());
    }
    _exit(0);
}

size_t CountLogFiles()
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("errorlogs")) {
        (void)entry;
        ++count;
    }
    return count;
}

}  // namespace

using ErrorLogTest = DiagnosticsTest;

// --- layout and directory ----------------------------------------------------

TEST_F(ErrorLogTest, FirstLogHasTheExactLayoutAndNumberOne)
{
    _LogFunctionTrace("StartFileSystem", nullptr);
    Error("disk %s at %d%%", "full", 90);
    EXPECT_EQ(ReadFile("errorlogs/errorlog00001.txt"), "Error:disk full at 90%\n\nFunction trace:\nStartFileSystem\n");
    EXPECT_EQ(g_iLogNumber, 1);
}

TEST_F(ErrorLogTest, LogDirectoryIsCreatedNotWorldWritable)
{
    mode_t previous = umask(0);
    Error("x");
    umask(previous);
    struct stat info;
    ASSERT_EQ(stat("errorlogs", &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    ASSERT_EQ(stat("errorlogs/errorlog00001.txt", &info), 0);
    EXPECT_EQ(info.st_mode & 0002, 0u);
}

TEST_F(ErrorLogTest, OverlongMessageIsWrittenInFull)
{
    const std::string message(5000, 'm');
    Error("%s", message.c_str());
    EXPECT_EQ(Log(1), LogText(message));
}

// --- numbering ---------------------------------------------------------------

TEST_F(ErrorLogTest, LogsTakeFreeNumbersAndNeverOverwriteOlderFiles)
{
    std::filesystem::create_directory("errorlogs");
    for (int number : {1, 2, 5})
        WriteFile(LogPath(number), "old " + std::to_string(number));
    Error("a");
    Error("b");
    Error("c");
    EXPECT_EQ(Log(3), LogText("a"));
    EXPECT_EQ(Log(4), LogText("b"));
    EXPECT_EQ(Log(6), LogText("c"));
    EXPECT_EQ(Log(1), "old 1");
    EXPECT_EQ(Log(2), "old 2");
    EXPECT_EQ(Log(5), "old 5");
    EXPECT_EQ(g_iLogNumber, 6);
}

TEST_F(ErrorLogTest, FileThatAppearsAfterTheFirstLogIsSkippedNotOverwritten)
{
    Error("a");
    WriteFile(LogPath(2), "someone else's");
    Error("b");
    EXPECT_EQ(Log(1), LogText("a"));
    EXPECT_EQ(Log(2), "someone else's");
    EXPECT_EQ(Log(3), LogText("b"));
}

TEST_F(ErrorLogTest, NumbersFrom100000HaveSixDigits)
{
    g_iLogNumber = 99998;
    Error("five");
    Error("six");
    EXPECT_EQ(ReadFile("errorlogs/errorlog99999.txt"), LogText("five"));
    EXPECT_EQ(ReadFile("errorlogs/errorlog100000.txt"), LogText("six"));
}

TEST_F(ErrorLogTest, LogThatCannotBeCreatedUsesUpItsNumberAndKeepsTheTrace)
{
    WriteFile("errorlogs", "a file where the directory should be");
    _LogFunctionTrace("Before", nullptr);
    Error("lost");
    EXPECT_EQ(g_iLogNumber, 1);
    EXPECT_EQ(std::string(g_LogEntries[0]), "Before");

    std::filesystem::remove("errorlogs");
    Error("kept");
    EXPECT_EQ(Log(1), "<missing>");
    EXPECT_EQ(Log(2), LogText("kept", "Before\n"));
}

// --- two processes -----------------------------------------------------------

TEST_F(ErrorLogTest, TwoProcessesWritingAtOnceLoseNoLogAndShareNoFile)
{
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            close(start[1]);
            WriteLogsAsChild(child, start[0]);
        }
    }
    close(start[0]);
    close(start[1]);  // both children start writing now
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::set<std::string> expected;
    for (int child = 0; child < 2; ++child) {
        for (int log = 0; log < kLogsPerProcess; ++log)
            expected.insert(LogText(ChildMessage(child, log), ChildMessage(child, log) + ":trace\n"));
    }
    std::set<std::string> found;
    for (int number = 1; number <= 2 * kLogsPerProcess; ++number)
        found.insert(Log(number));
    EXPECT_EQ(CountLogFiles(), 2u * kLogsPerProcess);
    EXPECT_EQ(found, expected);
}
