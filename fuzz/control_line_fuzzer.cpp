// Fuzzes the control socket's line parser against a plain model: the input
// is a client's byte stream; every "\n" ends a line whose characters from
// 32 to 126 count. An empty line gives nothing, a line of up to 254 such
// characters reaches the engine as they are, a longer one is refused.
#include "service/listeners/control_line.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

LineEvent Expected(const std::string& printable)
{
    if (printable.empty())
        return LineEvent::kNone;
    return printable.size() > static_cast<size_t>(kMaxControlLine) ? LineEvent::kTooLong
                                                                    : LineEvent::kLine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ControlLine parser;
    std::string printable;
    for (size_t i = 0; i < size; ++i) {
        LineEvent event = parser.Feed(data[i]);
        if (data[i] != '\n') {
            FUZZ_CHECK(event == LineEvent::kNone);
            if (data[i] >= 32 && data[i] <= 126)
                printable += static_cast<char>(data[i]);
            continue;
        }
        FUZZ_CHECK(event == Expected(printable));
        if (event == LineEvent::kLine)
            FUZZ_CHECK(printable == parser.Text());
        printable.clear();
    }
    return 0;
}
