#include "common/protobuf_writer.h"

#include <cstring>

namespace {

// The wire types of a field's tag.
constexpr int kVarintType = 0;
constexpr int kFixed64Type = 1;
constexpr int kLengthType = 2;

constexpr size_t kMaxVarint = 10;  // bytes of a 64-bit varint

// Writes value as a varint into out; returns its length.
size_t PutVarint(uint8_t* out, uint64_t value)
{
    size_t length = 0;
    for (; value >= 0x80; value >>= 7)
        out[length++] = static_cast<uint8_t>(value | 0x80);
    out[length++] = static_cast<uint8_t>(value);
    return length;
}

// Small magnitudes of either sign become small numbers.
uint64_t ZigZag(int64_t value)
{
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

}  // namespace

ProtobufWriter::ProtobufWriter(char* storage, size_t size)
    : out_(reinterpret_cast<uint8_t*>(storage)), size_(size)
{
}

void ProtobufWriter::Raw(uint64_t value)
{
    uint8_t bytes[kMaxVarint];
    size_t length = PutVarint(bytes, value);
    if (cut_ || size_ - length_ < length) {
        cut_ = true;
        return;
    }
    std::memcpy(out_ + length_, bytes, length);
    length_ += length;
}

void ProtobufWriter::Tag(int field, int wireType)
{
    Raw(static_cast<uint64_t>(field) << 3 | static_cast<uint64_t>(wireType));
}

void ProtobufWriter::Varint(int field, uint64_t value)
{
    Tag(field, kVarintType);
    Raw(value);
}

void ProtobufWriter::Sint(int field, int64_t value)
{
    Varint(field, ZigZag(value));
}

void ProtobufWriter::PackedSint(int64_t value)
{
    Raw(ZigZag(value));
}

// Little-endian whatever the machine's order.
void ProtobufWriter::Double(int field, double value)
{
    Tag(field, kFixed64Type);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    if (cut_ || size_ - length_ < sizeof(bits)) {
        cut_ = true;
        return;
    }
    for (size_t i = 0; i < sizeof(bits); ++i)
        out_[length_++] = static_cast<uint8_t>(bits >> (8 * i));
}

void ProtobufWriter::String(int field, const char* text)
{
    size_t mark = Begin();
    size_t length = std::strlen(text);
    if (cut_ || size_ - length_ < length) {
        cut_ = true;
        return;
    }
    std::memcpy(out_ + length_, text, length);
    length_ += length;
    End(field, mark);
}

void ProtobufWriter::End(int field, size_t mark)
{
    uint8_t header[2 * kMaxVarint];
    size_t length = PutVarint(header, static_cast<uint64_t>(field) << 3 | kLengthType);
    length += PutVarint(header + length, length_ - mark);
    Prefix(mark, header, length);
}

void ProtobufWriter::EndDelimited(size_t mark)
{
    uint8_t header[kMaxVarint];
    Prefix(mark, header, PutVarint(header, length_ - mark));
}

// The content's length is known only once it is written, so the content
// moves up to make room for its header.
void ProtobufWriter::Prefix(size_t mark, const uint8_t* header, size_t headerLength)
{
    if (cut_ || size_ - length_ < headerLength) {
        cut_ = true;
        return;
    }
    std::memmove(out_ + mark + headerLength, out_ + mark, length_ - mark);
    std::memcpy(out_ + mark, header, headerLength);
    length_ += headerLength;
}
