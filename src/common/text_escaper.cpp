#include "common/text_escaper.h"

namespace {

constexpr unsigned char kFirstPrintable = 32;
constexpr unsigned char kLastPrintable = 126;
constexpr unsigned char kFirstContinuation = 0x80;
constexpr unsigned char kLastContinuation = 0xbf;

void Escaped(unsigned char c, TextBuilder& out)
{
    const char* const digits = "0123456789abcdef";
    out.Add("\\x").Put(digits[c >> 4]).Put(digits[c & 0xf]);
}

// The length of the UTF-8 sequence that lead starts, 0 when none: C0 and
// C1 would start an overlong form, F5 and above a code point past U+10FFFF.
size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    return lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
}

// Whether c may follow what is held: the second byte's range rules out
// overlong forms, surrogates, code points past U+10FFFF, and the C1
// controls U+0080 to U+009F (an 8-bit CSI among them) in UTF-8's form.
bool Continues(const unsigned char* held, size_t heldLength, unsigned char c)
{
    unsigned char low = kFirstContinuation, high = kLastContinuation;
    if (heldLength == 1) {
        switch (held[0]) {
        case 0xc2: low = 0xa0; break;
        case 0xe0: low = 0xa0; break;
        case 0xed: high = 0x9f; break;
        case 0xf0: low = 0x90; break;
        case 0xf4: high = 0x8f; break;
        default: break;
        }
    }
    return c >= low && c <= high;
}

}  // namespace

void TextEscaper::Add(const char* text, size_t length, TextBuilder& out)
{
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (heldLength_ > 0)
            Continue(c, out);
        else
            Byte(c, out);
    }
}

void TextEscaper::Finish(TextBuilder& out)
{
    for (size_t i = 0; i < heldLength_; ++i)
        Escaped(held_[i], out);
    heldLength_ = 0;
}

void TextEscaper::Byte(unsigned char c, TextBuilder& out)
{
    bool text = keep_ == EscapeKeep::kText;
    size_t sequenceLength = text ? SequenceLength(c) : 0;
    if (c == '\\') {
        out.Add("\\\\");
    } else if ((c >= kFirstPrintable && c <= kLastPrintable) || c == '\n' || (text && c == '\t')) {
        out.Put(static_cast<char>(c));
    } else if (sequenceLength > 0) {
        sequenceLength_ = sequenceLength;
        held_[heldLength_++] = c;
    } else {
        Escaped(c, out);
    }
}

// The next byte of a held UTF-8 sequence: a byte that cannot continue it
// shows the sequence as bytes, and then stands on its own.
void TextEscaper::Continue(unsigned char c, TextBuilder& out)
{
    if (!Continues(held_, heldLength_, c)) {
        Finish(out);
        Byte(c, out);
        return;
    }
    if (heldLength_ + 1 < sequenceLength_) {
        held_[heldLength_++] = c;
        return;
    }
    for (size_t i = 0; i < heldLength_; ++i)
        out.Put(static_cast<char>(held_[i]));
    out.Put(static_cast<char>(c));
    heldLength_ = 0;
}
