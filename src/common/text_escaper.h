// Bytes from a peer that is not ours (a server's console output, a query
// reply) as they may reach an operator's terminal, which may be root's: a
// byte outside printable text is shown as \xNN, and a backslash as \\ so
// that no text passes for such an escape. The line break stays as it is.
// The peer's escape sequences (a title, a clipboard write, a cleared or
// alternate screen, an 8-bit CSI) are then shown, never obeyed.
#ifndef TARN_COMMON_TEXT_ESCAPER_H
#define TARN_COMMON_TEXT_ESCAPER_H

#include "common/text_builder.h"

#include <cstddef>

enum class EscapeKeep {
    kAscii,  // only 32 to 126 and the line break are shown as they are
    kText,   // the tab, and well-formed UTF-8 but for the C1 controls, too
};

class TextEscaper {
public:
    // The most characters one byte becomes: "\xNN".
    static constexpr size_t kMaxGrowth = 4;
    // The most bytes held back between two calls: a 4-byte UTF-8 sequence
    // but its last.
    static constexpr size_t kMaxHeld = 3;

    // The storage that the text shown for length bytes takes at most, with
    // what was held back and the terminator.
    static constexpr size_t StorageFor(size_t length) { return kMaxGrowth * (length + kMaxHeld) + 1; }

    explicit TextEscaper(EscapeKeep keep) : keep_(keep) {}

    // Adds the length bytes of text to out, shown; a UTF-8 sequence that
    // text ends inside of is held back and finished by the next call, so
    // that one split between two reads stays whole. Out's storage needs
    // StorageFor(length) bytes, or the text is cut.
    void Add(const char* text, size_t length, TextBuilder& out);
    // Adds what is held back, as bytes outside text: the peer has ended.
    void Finish(TextBuilder& out);

private:
    void Byte(unsigned char c, TextBuilder& out);
    void Continue(unsigned char c, TextBuilder& out);

    EscapeKeep keep_;
    unsigned char held_[kMaxHeld] = {};  // the start of a UTF-8 sequence
    size_t heldLength_ = 0;
    size_t sequenceLength_ = 0;  // the whole sequence's length, once one is held
};

#endif
