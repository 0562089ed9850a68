// Lines as a control-socket client sends them: the same characters the
// line editor takes (bytes 32 to 126), one line per "\n".
#ifndef TARN_SERVICE_LISTENERS_CONTROL_LINE_H
#define TARN_SERVICE_LISTENERS_CONTROL_LINE_H

#include "common/limits.h"

#include <cstddef>
#include <cstdint>

// The longest line a client may send, as the terminal's line editor allows.
constexpr int kMaxControlLine = kMaxConsoleLine;
// Bytes without a newline after which a client is taken for a flood.
constexpr int64_t kMaxControlBytesWithoutNewline = 1024 * 1024;

enum class LineEvent {
    kNone,      // the byte was taken, or left out
    kLine,      // a non-empty line is finished: Text() holds it
    kTooLong,   // a line longer than kMaxControlLine ended: it reaches nothing
    kFlood,     // kMaxControlBytesWithoutNewline bytes without a newline
};

class ControlLine {
public:
    // Takes one byte of a client's stream.
    LineEvent Feed(unsigned char byte);
    // The finished line, NUL-terminated, until the next Feed.
    const char* Text() const { return text_; }

private:
    LineEvent Finish();

    char text_[kMaxControlLine + 1] = {};
    int length_ = 0;
    bool tooLong_ = false;
    int64_t sinceNewline_ = 0;
};

#endif
