// A control client's byte stream cut into lines: what each newline gives,
// at the line limit and one past it, and after a line that was refused.
#include "service/listeners/control_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kTooLong = "<too long>";
const std::string kFlood = "<flood>";

// What the parser gave for stream: the text of each line, "" for a newline
// that gave nothing, and every event at any other byte.
std::vector<std::string> Events(const std::string& stream)
{
    ControlLine parser;
    std::vector<std::string> events;
    for (char byte : stream) {
        LineEvent event = parser.Feed(static_cast<unsigned char>(byte));
        if (event == LineEvent::kLine)
            events.emplace_back(parser.Text());
        else if (event == LineEvent::kTooLong)
            events.push_back(kTooLong);
        else if (event == LineEvent::kFlood)
            events.push_back(kFlood);
        else if (byte == '\n')
            events.emplace_back();
    }
    return events;
}

TEST(ControlLineTest, EachNewlineEndsOneLineOfPrintableCharactersUpToTheLimit)
{
    const std::string longest(kMaxControlLine, 'x');
    const size_t flood = kMaxControlBytesWithoutNewline;
    struct Row { std::string stream; std::vector<std::string> events; };
    const Row rows[] = {
        {"status", {}},
        {"status\n", {"status"}},
        {"status\r\n", {"status"}},
        {"\n\r\n", {"", ""}},
        {"say tarn\nst\n", {"say tarn", "st"}},
        {"say\x01 \x1b[Atarn\x7f\xff\t\n", {"say [Atarn"}},
        {longest + "\n", {longest}},
        {longest + "\r\x01\xff\n", {longest}},
        {longest + "y\n", {kTooLong}},
        {longest + "y\nstatus\n", {kTooLong, "status"}},
        {longest + longest + "\n\n" + longest + "\n", {kTooLong, "", longest}},
        {std::string(flood - 1, 'x') + "\n" + std::string(flood - 1, '\r') + "\n", {kTooLong, ""}},
        {std::string(flood, 'x'), {kFlood}},
        {"status\n" + std::string(flood - 1, '\x01') + "\x01", {"status", kFlood}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stream.substr(0, 40) + "... (" + std::to_string(row.stream.size()) + " bytes)");
        EXPECT_EQ(Events(row.stream), row.events);
    }
}

}  // namespace
