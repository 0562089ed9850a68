// The ring's copy: bytes that pass its end go on at its start, and no
// byte outside it is touched.

#include "common/ring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct RingCase {
    size_t offset;
    const char* text;
    const char* ring;  // the ring of 8 bytes afterwards, "." where nothing was written
};

const RingCase kRingCases[] = {
    {0, "abc", "abc....."},       // within the ring
    {5, "abc", ".....abc"},       // up to its last byte
    {6, "abcd", "cd....ab"},      // past its end
    {3, "abcdefgh", "fghabcde"},  // the whole ring, from its middle
};

TEST(RingTest, BytesPastTheEndGoOnAtTheStart)
{
    for (const RingCase& c : kRingCases) {
        std::string buffer = "#........#";
        Ring_Write(&buffer[1], 8, c.offset, c.text, std::char_traits<char>::length(c.text));
        EXPECT_EQ(buffer, std::string("#") + c.ring + "#") << c.offset << " " << c.text;
    }
}

}  // namespace
