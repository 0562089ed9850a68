// Protocol buffers' wire format written into a fixed buffer: varints,
// zigzag integers, doubles, strings and nested messages, for a page that
// a scraper decodes. Nothing is written past the buffer and nothing is
// allocated; what does not fit spoils the message (Cut), so a caller never
// hands on a message with a hole in it.
#ifndef TARN_COMMON_PROTOBUF_WRITER_H
#define TARN_COMMON_PROTOBUF_WRITER_H

#include <cstddef>
#include <cstdint>

class ProtobufWriter {
public:
    // Over storage of size bytes, not owned.
    ProtobufWriter(char* storage, size_t size);
    ProtobufWriter(const ProtobufWriter&) = delete;
    ProtobufWriter& operator=(const ProtobufWriter&) = delete;

    // A field of its own: an unsigned varint (uint32, uint64, enum), a
    // zigzag varint (sint32, sint64), a double, a string.
    void Varint(int field, uint64_t value);
    void Sint(int field, int64_t value);
    void Double(int field, double value);
    void String(int field, const char* text);
    // An element of a packed repeated sint field, between Begin and End.
    void PackedSint(int64_t value);

    // A nested message, or a packed field: Begin gives the mark where its
    // content starts, End puts the field's tag and the content's length in
    // front of it. EndDelimited puts the length alone, as a stream of
    // length-delimited messages has it.
    size_t Begin() const { return length_; }
    void End(int field, size_t mark);
    void EndDelimited(size_t mark);

    size_t Length() const { return length_; }
    // True once anything did not fit.
    bool Cut() const { return cut_; }

private:
    void Raw(uint64_t value);  // a varint without a tag
    void Tag(int field, int wireType);
    void Prefix(size_t mark, const uint8_t* header, size_t headerLength);

    uint8_t* out_;  // not owned
    size_t size_;
    size_t length_ = 0;
    bool cut_ = false;
};

#endif
