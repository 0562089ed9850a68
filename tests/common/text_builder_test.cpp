// The text builder: its bound, at the limit and one past it, the numbers
// it writes without the C library, and a peer's text escaped into it.

#include "common/text_builder.h"
#include "common/text_escaper.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>

namespace {

struct BuildCase {
    const char* name;
    size_t size;
    std::function<void(TextBuilder&)> build;
    const char* text;
    bool cut;
};

const BuildCase kBuildCases[] = {
    {"fills the buffer to its last byte", 8, [](TextBuilder& t) { t.Add("abcd").Put('e').Add("fg"); },
     "abcdefg", false},
    {"cuts one past it", 8, [](TextBuilder& t) { t.Add("abcdefgh"); }, "abcdefg", true},
    {"gives truncated room back", 8, [](TextBuilder& t) { t.Add("abcdefgh"), t.Truncate(2), t.Add("xy"); },
     "abxy", true},
    {"writes the extreme numbers", 64,
     [](TextBuilder& t) { t.Number(INT64_MIN).Put(' ').Number(0).Put(' ').Number(INT64_MAX); },
     "-9223372036854775808 0 9223372036854775807", false},
    {"cuts a number", 4, [](TextBuilder& t) { t.Number(-12345); }, "-12", true},
    {"writes hex without leading zeros", 32, [](TextBuilder& t) { t.Hex(0).Put(' ').Hex(0xbeef0); },
     "0x0 0xbeef0", false},
    {"formats a piece that fits exactly", 8, [](TextBuilder& t) { t.Format("%s", "abc").Format("%d", 1234); },
     "abc1234", false},
    {"leaves out a piece one past it, whole", 8,
     [](TextBuilder& t) { t.Format("%s", "abc").Format("%d", 12345).Format("!"); }, "abc!", true},
    {"holds nothing in no room", 0, [](TextBuilder& t) { t.Add("a").Format("b"); }, "", true},
    // A peer's text fed one byte per read: a UTF-8 sequence stays whole, a
    // surrogate's form and one cut by the peer's end are shown as bytes.
    {"escapes a peer's text read byte by byte", 48,
     [](TextBuilder& t) {
         TextEscaper escaper(EscapeKeep::kText);
         for (char c : std::string("\xf0\x9f\x99\x82 \xed\xa0\x80 \xe6\x97"))
             escaper.Add(&c, 1, t);
         escaper.Finish(t);
     },
     "\xf0\x9f\x99\x82 \\xed\\xa0\\x80 \\xe6\\x97", false},
};

TEST(TextBuilderTest, StaysWithinItsBufferAndSaysWhenItCut)
{
    for (const BuildCase& c : kBuildCases) {
        char buffer[72];
        std::memset(buffer, '#', sizeof(buffer));
        TextBuilder text(buffer + 1, c.size);
        c.build(text);
        EXPECT_STREQ(text.Text(), c.text) << c.name;
        EXPECT_EQ(text.Length(), std::strlen(c.text)) << c.name;
        EXPECT_EQ(text.Cut(), c.cut) << c.name;
        EXPECT_EQ(buffer[0], '#') << c.name;
        EXPECT_EQ(buffer[c.size + 1], '#') << c.name;
    }
}

}  // namespace
