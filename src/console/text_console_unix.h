// The line editor's back end for a POSIX terminal on standard input.
#ifndef TARN_CONSOLE_TEXT_CONSOLE_UNIX_H
#define TARN_CONSOLE_TEXT_CONSOLE_UNIX_H

#include "console/text_console.h"

#include <csignal>
#include <cstdio>
#include <termios.h>

// Puts the terminal into raw mode (no line buffering, no echo by the
// driver), decodes typed bytes into keys without ever blocking a frame, and
// echoes the operator's typing on the controlling terminal.
//
// It is the one owner of the terminal settings: Init saves them once, and
// every change of the terminal goes through the functions of the section
// "the terminal" below, whoever asks for it (the run loop, the destructor,
// the launcher's signal handlers).
class CTextConsoleUnix : public CTextConsole {
public:
    // Bytes one call reads from standard input at most: a burst of typing
    // or a pasted block fits, and a frame handles it in a few milliseconds.
    static constexpr int kInputBudget = 4096;

    ~CTextConsoleUnix() override;

    // The provider is not used: the terminal console completes nothing.
    bool Init(IBaseSystem* system) override;
    // Gives the terminal back; the console keeps working on it.
    void ShutDown() override;
    void PrintRaw(const char* text, int length) override;
    void Echo(const char* text, int length) override;
    // Handles the bytes pending when it begins, at most kInputBudget of
    // them, up to the first Enter that finishes a non-empty line, and
    // returns that line; bytes after it stay pending for the next call (or
    // the next program to read standard input). So a flood of input costs a
    // frame no more than one budget.
    char* GetLine() override;
    // Columns of standard output; 80 when unknown.
    int GetWidth() override;

    // 1 when standard input has a byte pending.
    int kbhit();

    // --- the terminal ---
    // Nothing here changes a terminal unless Init found one on standard
    // input and saved its settings.
    //
    // Gives the terminal its saved settings back, for good: raw mode is no
    // longer wanted. Safe to call more than once.
    void GiveTerminalBack();
    // Raw mode again after GiveTerminalBack, when the engine starts again.
    void TakeTerminalAgain();
    // Async-signal-safe, for a signal that ends or stops the process: puts
    // the saved settings back while raw mode stays wanted.
    void SuspendRawMode();
    // Async-signal-safe, for a continued process: raw mode again if it is
    // wanted.
    void ResumeRawMode();
    // True between Init (or TakeTerminalAgain) and GiveTerminalBack.
    bool WantsRawMode() const { return rawModeWanted != 0; }

private:
    void SaveTerminalSettings();
    void OpenEchoStream();
    char* ReadKeys(int budget);

    termios savedTerminalSettings{};  // standard input's settings as Init found them
    FILE* echoStream = nullptr;       // controlling terminal, "/dev/null" or standard output
    volatile std::sig_atomic_t settingsSaved = 0;  // Init read savedTerminalSettings
    volatile std::sig_atomic_t rawModeWanted = 0;
};

// The console's raw mode: the settings given with line mode and echo off
// and reads that return each byte at once; the rest as it was.
termios Console_RawModeOf(const termios& settings);
// The columns of the terminal on fd; 80 when unknown or 1 or less.
int Console_TerminalWidth(int fd);

#endif
