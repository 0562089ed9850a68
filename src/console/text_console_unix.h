// The line editor's back end for a POSIX terminal on standard input.
#ifndef TARN_CONSOLE_TEXT_CONSOLE_UNIX_H
#define TARN_CONSOLE_TEXT_CONSOLE_UNIX_H

#include "text_console.h"

#include <csignal>
#include <cstdio>
#include <termios.h>

// Puts the terminal into raw mode (no line buffering, no echo by the
// driver), decodes typed bytes into keys without ever blocking a frame, and
// echoes the operator's typing on the controlling terminal.
//
// It is the one owner of the terminal settings: they are saved once in
// Init, and every way of giving the terminal back (ShutDown, the
// destructor, a signal that ends or stops the process) goes through
// RestoreTerminal.
class CTextConsoleUnix : public CTextConsole {
public:
    ~CTextConsoleUnix() override;

    // The provider is not used: the terminal console completes nothing.
    bool Init(IBaseSystem* system) override;
    // Gives the terminal its saved settings back; the console keeps working
    // on the restored terminal. Safe to call more than once.
    void ShutDown() override;
    void PrintRaw(const char* text, int length) override;
    void Echo(const char* text, int length) override;
    // Handles every byte pending now, up to the first Enter that finishes a
    // non-empty line, and returns that line; bytes after it stay pending.
    char* GetLine() override;
    // Columns of standard output; 80 when unknown.
    int GetWidth() override;

    // 1 when standard input has a byte pending.
    int kbhit();

    // Async-signal-safe. Applies the saved settings or the raw ones, when
    // Init read settings to save: nothing happens unless Init set raw mode.
    // ApplyRawMode also takes the terminal again after ShutDown, when the
    // engine starts again.
    void RestoreTerminal();
    void ApplyRawMode();
    // True between Init (or a later ApplyRawMode) and ShutDown on a terminal.
    bool WantsRawMode() const { return rawModeWanted != 0; }

private:
    void OpenEchoStream();
    bool HandleByte(unsigned char byte, int& escapeState);
    void HandlePrintable(char ch, int& escapeState);
    char* ReadKeys();

    termios savedTerminalSettings{};  // standard input's settings as Init found them
    FILE* echoStream = nullptr;       // controlling terminal, "/dev/null" or standard output
    volatile std::sig_atomic_t settingsSaved = 0;  // Init read savedTerminalSettings
    volatile std::sig_atomic_t rawModeWanted = 0;
};

#endif
