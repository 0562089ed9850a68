#include "common/text_builder.h"

#include <cstdarg>
#include <cstdio>

TextBuilder::TextBuilder(char* storage, size_t size) : text_(storage), size_(size)
{
    Terminate();
}

void TextBuilder::Terminate()
{
    if (size_ > 0)
        text_[length_] = '\0';
}

TextBuilder& TextBuilder::Put(char c)
{
    if (Full()) {
        cut_ = true;
        return *this;
    }
    text_[length_++] = c;
    Terminate();
    return *this;
}

TextBuilder& TextBuilder::Add(const char* text)
{
    while (*text && !Full())
        Put(*text++);
    if (*text)
        cut_ = true;
    return *this;
}

TextBuilder& TextBuilder::Number(int64_t value)
{
    char digits[20];
    int count = 0;
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do
        digits[count++] = static_cast<char>('0' + rest % 10);
    while ((rest /= 10) > 0);
    if (value < 0)
        Put('-');
    while (count > 0)
        Put(digits[--count]);
    return *this;
}

TextBuilder& TextBuilder::Hex(uintptr_t value)
{
    Add("0x");
    int shift = static_cast<int>(sizeof(value) * 8) - 4;
    while (shift > 0 && ((value >> shift) & 0xF) == 0)
        shift -= 4;
    for (; shift >= 0; shift -= 4)
        Put("0123456789abcdef"[(value >> shift) & 0xF]);
    return *this;
}

TextBuilder& TextBuilder::Format(const char* format, ...)
{
    size_t room = size_ - length_;
    va_list arguments;
    va_start(arguments, format);
    int added = std::vsnprintf(text_ + length_, room, format, arguments);
    va_end(arguments);
    if (added >= 0 && static_cast<size_t>(added) < room)
        length_ += static_cast<size_t>(added);
    else
        cut_ = true;
    Terminate();
    return *this;
}

void TextBuilder::Truncate(size_t length)
{
    if (length < length_)
        length_ = length;
    Terminate();
}
