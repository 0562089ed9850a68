#include "service/listeners/control_line.h"

namespace {

constexpr unsigned char kNewline = '\n';
constexpr unsigned char kFirstPrintable = 32;
constexpr unsigned char kLastPrintable = 126;

}  // namespace

LineEvent ControlLine::Feed(unsigned char byte)
{
    if (byte == kNewline)
        return Finish();
    if (++sinceNewline_ >= kMaxControlBytesWithoutNewline)
        return LineEvent::kFlood;
    if (byte < kFirstPrintable || byte > kLastPrintable)
        return LineEvent::kNone;  // control bytes and bytes above 126 are left out
    if (length_ == kMaxControlLine)
        tooLong_ = true;
    else
        text_[length_++] = static_cast<char>(byte);
    return LineEvent::kNone;
}

// An empty line is no line, as on the terminal.
LineEvent ControlLine::Finish()
{
    LineEvent event = tooLong_ ? LineEvent::kTooLong : length_ > 0 ? LineEvent::kLine : LineEvent::kNone;
    text_[length_] = '\0';
    length_ = 0;
    tooLong_ = false;
    sinceNewline_ = 0;
    return event;
}
