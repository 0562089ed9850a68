#include "launcher/crash_report.h"

#include "common/clock.h"
#include "common/diagnostics.h"
#include "common/text_builder.h"
#include "common/write_all.h"
#include "output/output.h"
#include "telemetry/telemetry.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The handler's calls, all async-signal-safe but two: openat, mkdirat,
// getdents64 (as a system call), write, lseek, unlinkat, send, poll, close,
// clock_gettime; and backtrace and backtrace_symbols_fd, whose library is
// loaded at start so that they neither load nor allocate in the handler.

namespace {

constexpr int kMaxFrames = 64;
constexpr size_t kReplayBytes = 64 * 1024;
constexpr mode_t kDirectoryMode = 0755;
constexpr size_t kLineSize = 256;

const char* const kPhaseNames[] = {"the launcher was running", "the engine was inside Initialize",
                                   "the engine was inside RunFrame", "the engine was inside Shutdown",
                                   "the engine was inside SubmitConsoleText"};

int s_workingDirectory = -1;
int64_t s_startMicroseconds = 0;
const char* s_commandLine = "";
volatile std::sig_atomic_t s_phase = 0;
int s_writeError = 0;  // the errno of the report's first failed write, 0 while none failed

// A line built without the C library's formatting.
using SafeLine = FixedText<kLineSize>;

// A report cut short is still worth its start: the writing goes on, and the
// announcement says that it is cut.
void Write(int fd, const char* text, size_t length)
{
    if (!Fd_WriteAll(fd, text, length) && s_writeError == 0)
        s_writeError = errno;
}

void Write(int fd, const TextBuilder& line)
{
    Write(fd, line.Text(), line.Length());
}

const char* SignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// The kernel gives a fault address for a fault, not for a signal sent.
bool HasFaultAddress(int signalNumber, const siginfo_t* info)
{
    return info && info->si_code > 0 && signalNumber != SIGABRT;
}

// The error logs in the folder, counted with the system call itself.
int CountErrorLogs(int directory)
{
    alignas(8) char entries[4096];
    int count = 0;
    long size;
    while ((size = syscall(SYS_getdents64, directory, entries, sizeof(entries))) > 0) {
        for (long offset = 0; offset < size;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + offset);
            count += std::strncmp(entry->d_name, "errorlog", 8) == 0;
            offset += entry->d_reclen;
        }
    }
    return count;
}

// Why no report could be written, in one phrase; notWritable names the
// folder that refused.
const char* Reason(int error, const char* notWritable)
{
    switch (error) {
    case EROFS:
    case EACCES:
    case EPERM: return notWritable;
    case ENOSPC:
    case EDQUOT: return "the disk is full";
    default: return "the error log could not be created";
    }
}

// Why a report's writing stopped, in one phrase.
const char* WriteReason(int error)
{
    return error == ENOSPC || error == EDQUOT ? "the disk is full" : "a write failed";
}

void WriteHeader(int fd, int signalNumber, const siginfo_t* info)
{
    SafeLine line;
    line.Add("Error:").Add(SignalName(signalNumber)).Add(" (").Number(signalNumber).Add(")");
    if (HasFaultAddress(signalNumber, info))
        line.Add(" at ").Hex(reinterpret_cast<uintptr_t>(info->si_addr));
    line.Add(", ").Add(kPhaseNames[s_phase]).Add("\n\nFunction trace:\n");
    Write(fd, line);
    if (!Diag_WriteTrace(fd) && s_writeError == 0)
        s_writeError = errno;
}

void WriteBacktrace(int fd)
{
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    Write(fd, "\nBacktrace:\n", 12);
    // Its writes' failures are not told; a disk that fills stays full, so
    // the next section's first write fails too.
    backtrace_symbols_fd(frames, count, fd);
}

// Up to the last 64 KiB of standard output, in whole lines.
void WriteLastOutput(int fd)
{
    Write(fd, "\nLast output:\n", 14);
    const OutputHistory& history = Output_History();
    const char* bytes = nullptr;
    uint64_t position = history.ReplayStart(kReplayBytes);
    for (size_t length; (length = history.Span(position, &bytes)) > 0; position += length)
        Write(fd, bytes, length);
}

void WriteFacts(int fd)
{
    Write(fd, "\nCommand line: ", 15);
    Write(fd, s_commandLine, std::strlen(s_commandLine));
    int64_t uptime = Clock_Microseconds() - s_startMicroseconds;
    SafeLine line;
    line.Add("\nUptime: ").Number(uptime / 1000000).Add(".").Number(uptime / 100000 % 10);
    line.Add(" s\nFrames: ").Number(Telemetry_Frames());
    line.Add("\nEngine starts: ").Number(Telemetry_EngineStarts()).Add("\n");
    Write(fd, line);
}

// The folder, created when missing; -1 and why when it cannot be opened.
// A symbolic link to a folder elsewhere is followed: only the server's own
// user can make it, who can write the folder anyway.
int OpenLogDirectory(const char** why)
{
    int made = mkdirat(s_workingDirectory, kErrorLogDirectory, kDirectoryMode);
    int makeError = errno;
    int directory = openat(s_workingDirectory, kErrorLogDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0)
        return directory;
    if (errno == ENOENT && made != 0 && makeError != EEXIST)
        *why = Reason(makeError, "the server directory is not writable");
    else
        *why = Reason(errno, "the errorlogs folder is not writable");
    return -1;
}

// Writes the report to the new file name in directory and says on line
// where it is, that it is cut short, or that nothing could be written
// (then the empty file is removed: it would pass for a report).
void WriteReport(int directory, const char* name, int fd, int signalNumber, const siginfo_t* info,
                 TextBuilder& line)
{
    s_writeError = 0;
    WriteHeader(fd, signalNumber, info);
    WriteBacktrace(fd);
    WriteLastOutput(fd);
    WriteFacts(fd);
    bool empty = lseek(fd, 0, SEEK_CUR) == 0;
    close(fd);
    if (s_writeError != 0 && empty) {
        unlinkat(directory, name, 0);
        line.Add("not written, ").Add(WriteReason(s_writeError));
        return;
    }
    line.Add(kErrorLogDirectory).Add("/").Add(name);
    if (s_writeError != 0)
        line.Add(", cut short: ").Add(WriteReason(s_writeError));
}

void Announce(const TextBuilder& line)
{
    Output_WriteLast(line.Text(), line.Length());
}

}  // namespace

void Crash_Prepare(const char* commandLine)
{
    s_workingDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    s_startMicroseconds = Clock_Microseconds();
    s_commandLine = commandLine;
    // The first backtrace loads the unwinder's library; the handler must not.
    void* frames[1];
    backtrace(frames, 1);
}

void Crash_EnterEngine(EnginePhase phase)
{
    s_phase = static_cast<int>(phase);
}

void Crash_LeaveEngine()
{
    s_phase = static_cast<int>(EnginePhase::kLauncher);
}

void Crash_Report(int signalNumber, const siginfo_t* info)
{
    int savedErrno = errno;
    SafeLine line;
    line.Add("Crash report: ");
    const char* why = "";
    int directory = OpenLogDirectory(&why);
    char name[kErrorLogNameSize];
    int fd = -1;
    if (directory < 0) {
        line.Add("not written, ").Add(why);
    } else if (CountErrorLogs(directory) >= kMaxErrorLogs) {
        line.Add("not written, the errorlogs folder holds ").Number(kMaxErrorLogs).Add(" error logs: clear it");
    } else if ((fd = Diag_CreateNextLog(directory, name)) < 0) {
        line.Add("not written, ").Add(Reason(errno, "the errorlogs folder is not writable"));
    } else {
        WriteReport(directory, name, fd, signalNumber, info, line);
    }
    if (directory >= 0)
        close(directory);
    Announce(line.Add("\n"));
    errno = savedErrno;
}
