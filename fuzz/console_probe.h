// Reaches the line editor's state, which only derived classes see, to check
// its invariants after every step of a fuzz target.
#ifndef TARN_FUZZ_CONSOLE_PROBE_H
#define TARN_FUZZ_CONSOLE_PROBE_H

#include "console/text_console.h"
#include "fuzz_check.h"

#include <cstring>
#include <string_view>

template <class Console>
class ConsoleProbe : public Console {
public:
    // Empties the line and the history as at start. The back end's own
    // set-up is left out: it opens streams and runs once per process.
    void ResetEditor(IBaseSystem* provider) { this->CTextConsole::Init(provider); }

    // The line being typed, as the editor holds it.
    std::string_view TypedLine() const
    {
        return std::string_view(this->lineBuffer, static_cast<size_t>(this->lineLength));
    }

    void CheckState() const
    {
        CheckLine();
        CheckHistory();
    }

    // A finished line is the editor's buffer holding 1 to 254 characters
    // and its terminator.
    void CheckDelivered(const char* line) const
    {
        FUZZ_CHECK(line == this->lineBuffer);
        const void* end = std::memchr(line, '\0', CTextConsole::kMaxLineLength + 1);
        FUZZ_CHECK(end != nullptr && end != line);
    }

private:
    void CheckLine() const
    {
        FUZZ_CHECK(this->lineLength >= 0 && this->lineLength <= CTextConsole::kMaxLineLength);
        FUZZ_CHECK(this->cursorPosition >= 0 && this->cursorPosition <= this->lineLength);
        FUZZ_CHECK(this->savedLineLength >= 0 &&
                   this->savedLineLength <= CTextConsole::kMaxLineLength);
    }

    void CheckHistory() const
    {
        constexpr int kSlots = CTextConsole::kHistorySize;
        FUZZ_CHECK(this->historyWriteIndex >= 0 && this->historyWriteIndex < kSlots);
        FUZZ_CHECK(this->historyBrowseIndex >= 0 && this->historyBrowseIndex < kSlots);
        FUZZ_CHECK(this->historyCount >= 0 && this->historyCount <= kSlots);
        // Until the ring is full, the lines fill the slots from 0 up.
        FUZZ_CHECK(this->historyCount == kSlots || this->historyCount == this->historyWriteIndex);
        // Browsing shows filled slots only.
        FUZZ_CHECK(this->historyBrowseIndex == this->historyWriteIndex ||
                   this->historyBrowseIndex < this->historyCount);
        for (const char* entry : this->history)
            FUZZ_CHECK(std::memchr(entry, '\0', CTextConsole::kLineSize) != nullptr);
    }
};

#endif
