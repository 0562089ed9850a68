// Fuzzes the escaper that stands between a peer's bytes and an operator's
// terminal. The first byte chooses what is kept (its low bit) and where the
// rest is split in two calls (the byte itself); the rest is the peer's
// bytes. Whatever the split, the text shown is the same; it holds only
// what may reach a terminal (printable ASCII, the line break, and with
// kText the tab and well-formed UTF-8 but for the C1 controls); and read
// back through its escapes it gives every byte the peer sent.
#include "common/text_escaper.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Shown(EscapeKeep keep, const uint8_t* data, size_t size, size_t split)
{
    std::vector<char> storage(TextEscaper::StorageFor(split) + TextEscaper::StorageFor(size - split));
    TextBuilder out(storage.data(), storage.size());
    TextEscaper escaper(keep);
    escaper.Add(reinterpret_cast<const char*>(data), split, out);
    escaper.Add(reinterpret_cast<const char*>(data) + split, size - split, out);
    escaper.Finish(out);
    FUZZ_CHECK(!out.Cut());
    return std::string(out.Text(), out.Length());
}

// The length of the well-formed UTF-8 sequence at text[at] that is not a
// C1 control, or 0.
size_t Utf8Length(const std::string& text, size_t at)
{
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
    uint8_t lead = byte(at);
    size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (length == 0 || lead > 0xf4)
        return 0;
    uint32_t code = lead & (0x7f >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3f);
    }
    static const uint32_t kLeast[] = {0, 0, 0xa0, 0x800, 0x10000};
    bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < kLeast[length] || surrogate || code > 0x10ffff ? 0 : length;
}

// The peer's bytes back from the text shown.
std::string ReadBack(EscapeKeep keep, const std::string& shown)
{
    std::string bytes;
    for (size_t at = 0; at < shown.size();) {
        uint8_t c = static_cast<uint8_t>(shown[at]);
        if (c == '\\') {
            bool backslash = shown.compare(at, 2, "\\\\") == 0;
            FUZZ_CHECK(backslash || (shown.compare(at, 2, "\\x") == 0 && at + 4 <= shown.size()));
            bytes += backslash ? '\\' : static_cast<char>(std::stoi(shown.substr(at + 2, 2), nullptr, 16));
            at += backslash ? 2 : 4;
            continue;
        }
        size_t length = c >= 0x80 && keep == EscapeKeep::kText ? Utf8Length(shown, at) : 1;
        bool plain = (c >= 32 && c <= 126) || c == '\n' || (c == '\t' && keep == EscapeKeep::kText);
        FUZZ_CHECK(plain || (c >= 0x80 && length > 0));
        bytes.append(shown, at, length);
        at += length;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    EscapeKeep keep = data[0] & 1 ? EscapeKeep::kText : EscapeKeep::kAscii;
    size_t split = data[0] % size;
    const std::string shown = Shown(keep, data + 1, size - 1, split);
    FUZZ_CHECK(shown == Shown(keep, data + 1, size - 1, 0));
    FUZZ_CHECK(ReadBack(keep, shown) == std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    return 0;
}
