#include "console/key_decoder.h"

namespace {

constexpr unsigned char kBackspace = 8;
constexpr unsigned char kTab = 9;
constexpr unsigned char kEnter = 10;
constexpr unsigned char kEscape = 27;
constexpr unsigned char kDelete = 127;
constexpr unsigned char kFirstPrintable = 32;
constexpr unsigned char kLastPrintable = 126;

}  // namespace

bool KeyDecoder::Feed(CTextConsole& editor, unsigned char byte)
{
    if (byte != kEnter) {
        state_ = HandleKey(editor, byte);
        return false;
    }
    state_ = EscapeState::kNormal;
    return editor.ReceiveNewline() != 0;
}

// Acts on one input byte other than Enter; returns the decoder's next state.
KeyDecoder::EscapeState KeyDecoder::HandleKey(CTextConsole& editor, unsigned char byte)
{
    switch (byte) {
    case kBackspace:
    case kDelete:
        editor.ReceiveBackspace();
        return EscapeState::kNormal;
    case kTab:
        editor.ReceiveTab();
        return EscapeState::kNormal;
    case kEscape:
        return EscapeState::kAfterEscape;
    default:
        if (byte >= kFirstPrintable && byte <= kLastPrintable)
            return HandlePrintable(editor, static_cast<char>(byte));
        return state_;  // other control bytes and bytes above 126 are ignored
    }
}

// Cursor keys arrive as ESC "[" (or "O", "o") and one of "A" to "D"; any
// other printable byte is typed, except inside an unknown sequence.
KeyDecoder::EscapeState KeyDecoder::HandlePrintable(CTextConsole& editor, char ch)
{
    bool introducer = ch == '[' || ch == 'O' || ch == 'o';
    bool arrow = ch >= 'A' && ch <= 'D';
    if (state_ == EscapeState::kAfterEscape && introducer)
        return EscapeState::kInSequence;
    if (state_ == EscapeState::kInSequence && !introducer) {
        if (!arrow)
            // Kept for compatibility: inside a sequence the decoder does not
            // know, printable bytes are swallowed until a cursor letter, as
            // input scripted for the console expects.
            return state_;
        switch (ch) {
        case 'A': editor.ReceiveUpArrow(); break;
        case 'B': editor.ReceiveDownArrow(); break;
        case 'C': editor.ReceiveRightArrow(); break;
        default: editor.ReceiveLeftArrow(); break;
        }
        return EscapeState::kNormal;
    }
    editor.ReceiveStandardChar(ch);
    return EscapeState::kNormal;
}
