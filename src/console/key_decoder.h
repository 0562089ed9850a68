// Turns typed bytes into the line editor's key operations: printable
// characters, Backspace and Delete, Tab, Enter, and the cursor keys, which
// arrive as ESC "[" (or "O", "o") and one of "A" to "D".
#ifndef TARN_CONSOLE_KEY_DECODER_H
#define TARN_CONSOLE_KEY_DECODER_H

#include "console/text_console.h"

class KeyDecoder {
public:
    // Hands one byte to editor. True when it was an Enter that finished a
    // non-empty line, which then stands in the editor's line buffer.
    bool Feed(CTextConsole& editor, unsigned char byte);

private:
    enum class EscapeState { kNormal, kAfterEscape, kInSequence };

    EscapeState HandleKey(CTextConsole& editor, unsigned char byte);
    EscapeState HandlePrintable(CTextConsole& editor, char ch);

    EscapeState state_ = EscapeState::kNormal;
};

#endif
