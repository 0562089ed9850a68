// How a peer's bytes are shown: fed at once or one byte per read, the same.
#include "common/text_escaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct EscapeCase {
    EscapeKeep keep;
    std::string bytes;
    std::string shown;
};

const EscapeCase kEscapeCases[] = {
    {EscapeKeep::kText, "\xf0\x9f\x99\x82 \xe6\x97\xa5\t\xc2\xa0", "\xf0\x9f\x99\x82 \xe6\x97\xa5\t\xc2\xa0"},
    {EscapeKeep::kText, "\xe6\x97", "\\xe6\\x97"},                            // cut by the peer's end
    {EscapeKeep::kText, "\xed\xa0\x80|\xe0\x80\xaf", "\\xed\\xa0\\x80|\\xe0\\x80\\xaf"},  // a surrogate, overlong
    {EscapeKeep::kText, "\xf4\x90\x80\x80\x7f", "\\xf4\\x90\\x80\\x80\\x7f"},  // past U+10FFFF, DEL
    {EscapeKeep::kAscii, "\xc3\xa9\t\\\n", "\\xc3\\xa9\\x09\\\\\n"},
};

TEST(TextEscaperTest, ShowsWellFormedTextAsItIsAndAnyOtherByteAsAnEscapeWhereverReadsSplitIt)
{
    for (const EscapeCase& c : kEscapeCases) {
        for (size_t piece : {c.bytes.size(), size_t{1}}) {
            TextEscaper escaper(c.keep);
            FixedText<TextEscaper::StorageFor(16)> shown;
            for (size_t at = 0; at < c.bytes.size(); at += piece)
                escaper.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at), shown);
            escaper.Finish(shown);
            EXPECT_EQ(shown.Text(), c.shown) << piece;
        }
    }
}

}  // namespace
