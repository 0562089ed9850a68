// Text built piece by piece in a fixed buffer: the command line's
// expansion, the crash report's lines, the metrics page, the notify
// messages, the console tool's marker.
//
// Nothing is ever written past the buffer, and the text is always
// terminated. All but Format are async-signal-safe and allocate nothing:
// they call no library function, so the crash handler builds its lines
// with them.
#ifndef TARN_COMMON_TEXT_BUILDER_H
#define TARN_COMMON_TEXT_BUILDER_H

#include <cstddef>
#include <cstdint>

class TextBuilder {
public:
    // Over storage of size bytes, not owned; the text starts empty. Room
    // for the terminator is kept, so size bytes hold size - 1 characters.
    TextBuilder(char* storage, size_t size);
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    // These cut what does not fit, character by character.
    TextBuilder& Put(char c);
    TextBuilder& Add(const char* text);
    TextBuilder& Number(int64_t value);  // decimal, "-" before a negative one
    TextBuilder& Hex(uintptr_t value);   // "0x" and lowercase digits, no leading zeros

    // Not async-signal-safe (the C library's formatting): the formatted
    // text whole, or nothing when it does not fit, so that no line is cut.
    TextBuilder& Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Drops what follows the first length characters.
    void Truncate(size_t length);

    const char* Text() const { return size_ > 0 ? text_ : ""; }
    size_t Length() const { return length_; }
    // How many more characters fit.
    size_t Room() const { return Full() ? 0 : size_ - 1 - length_; }
    bool Full() const { return length_ + 1 >= size_; }
    // True once anything was cut or left out.
    bool Cut() const { return cut_; }

private:
    void Terminate();

    char* text_;  // not owned
    size_t size_;
    size_t length_ = 0;
    bool cut_ = false;
};

// The storage of a FixedText, a base of its own so that it exists before
// the builder over it.
template <size_t kSize>
struct TextStorage {
    char storage[kSize];
};

// A builder that holds its own kSize bytes.
template <size_t kSize>
class FixedText : private TextStorage<kSize>, public TextBuilder {
public:
    FixedText() : TextBuilder(TextStorage<kSize>::storage, kSize) {}
};

#endif
