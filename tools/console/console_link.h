// tarn-console's connection to a server's control socket, and what it does
// with it: one line for a script, or the operator's console.
#ifndef TARN_CONSOLE_CONSOLE_LINK_H
#define TARN_CONSOLE_CONSOLE_LINK_H

#include "common/text_builder.h"
#include "common/text_escaper.h"

#include <cstddef>

class AttachedConsole;

class ConsoleLink {
public:
    ConsoleLink() = default;
    ConsoleLink(const ConsoleLink&) = delete;
    ConsoleLink& operator=(const ConsoleLink&) = delete;
    ~ConsoleLink();

    // False, after one line saying why, when nobody listens at path or
    // the server accepts nothing within 5 s.
    bool Connect(const char* path);
    // Sends line and prints what the server prints after taking it, until
    // 250 ms pass without any. False, after the reason, when the server
    // refuses it or has not taken it 5 s after Connect began.
    bool SendOne(const char* line);
    // The operator's console until Ctrl-D, Ctrl-C or the server's end;
    // false, after the reason, when the server refuses the console.
    bool Attach();

private:
    enum class Got { kData, kEnd, kQuiet };

    Got Receive(int milliseconds);
    const char* NextLine(size_t* length);
    bool SendAll(const char* text, size_t length);
    void Printable(const char* line, char* marker, size_t size) const;
    const char* Shown(const char* bytes, size_t length, bool ended);
    void Show(const char* bytes, size_t length, bool ended);
    int PrintLines(AttachedConsole& editor, Got got);
    bool TypeKeys(AttachedConsole& editor);

    static constexpr size_t kBufferSize = 64 * 1024;
    int fd_ = -1;
    const char* path_ = "";
    long long takenBy_ = 0;  // when a line not yet taken means a hung server
    char buffer_[kBufferSize] = {};  // received, not yet shown
    size_t length_ = 0;
    size_t taken_ = 0;  // bytes of buffer_ handed out by NextLine
    // The server's bytes as the operator's terminal shows them; a UTF-8
    // sequence split between two reads is held back in the escaper.
    TextEscaper escaper_{EscapeKeep::kText};
    FixedText<TextEscaper::StorageFor(kBufferSize)> shown_;
};

#endif
