// The operator's console on standard input.
//
// For now this is the least console the launcher needs: it announces itself
// and hands every finished line of standard input to the run loop without
// ever blocking a frame. It does not touch the terminal settings.
#ifndef TARN_CONSOLE_TEXT_CONSOLE_UNIX_H
#define TARN_CONSOLE_TEXT_CONSOLE_UNIX_H

class IBaseSystem;  // completion provider; the terminal console runs without one

class CTextConsoleUnix {
public:
    // Longest line handed to the engine, terminator excluded.
    static constexpr int kMaxLineLength = 254;

    CTextConsoleUnix() = default;
    ~CTextConsoleUnix();

    // Prints "\n" and "Console initialized.\n". Always true.
    bool Init(IBaseSystem* system);
    // Gives the terminal back; safe to call more than once.
    void ShutDown();
    // A finished, non-empty line read from standard input, or null when
    // none is complete yet. Never waits; bytes after the line stay pending
    // for the next call. The text is valid until the next call.
    char* GetLine();

private:
    char lineBuffer[kMaxLineLength + 2] = {};  // line, terminator, and one spare
    int lineLength = 0;
};

#endif
