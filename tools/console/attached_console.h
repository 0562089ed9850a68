// The line editor of tarn-console, on the operator's own terminal: output
// from the server scrolls above the line being typed, which is drawn again
// below it.
#ifndef TARN_CONSOLE_ATTACHED_CONSOLE_H
#define TARN_CONSOLE_ATTACHED_CONSOLE_H

#include "console/text_console.h"

class AttachedConsole : public CTextConsole {
public:
    // The editor without the announcement: that belongs to the server's
    // console, whose replay shows it.
    bool Init(IBaseSystem* system) override;
    void PrintRaw(const char* text, int length) override;
    void Echo(const char* text, int length) override;
    // Keys come through Type: the tool polls the terminal and the server
    // together.
    char* GetLine() override { return nullptr; }
    int GetWidth() override;
    // The line that the last finished Enter left in the editor.
    const char* Line() const { return lineBuffer; }
};

// The operator's terminal, in raw mode while the tool runs; every way out
// of the tool (its end, a signal that ends or stops it) gives the settings
// back. Nothing happens when standard input is not a terminal.
void Terminal_EnterRawMode();
void Terminal_Leave();
// True once SIGINT, SIGTERM or SIGHUP asked the tool to detach.
bool Terminal_DetachRequested();

#endif
