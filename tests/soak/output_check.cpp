#include "output_check.h"

#include <cstdlib>

namespace {

const std::string kNumbered = "line ";
const std::string kNotice = "Output was blocked: ";
const std::string kTooLong = "Refused: line longer than";
const std::string kTooMany = "Refused: too many clients.";
const std::string kRunNote = "tarn-run: ";

// The line as a terminal shows it: without control sequences, and from
// the last carriage return on, the one ending it left out.
std::string Shown(std::string raw)
{
    while (!raw.empty() && raw.back() == '\r')
        raw.pop_back();
    std::string shown;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
            for (i += 2; i < raw.size() && !(raw[i] >= 0x40 && raw[i] <= 0x7e); ++i) {
            }
            continue;
        }
        if (raw[i] == '\r')
            shown.clear();
        else
            shown += raw[i];
    }
    return shown;
}

}  // namespace

OutputCheck::OutputCheck(int lineBytes, bool fromFirst) : lineBytes_(lineBytes), last_(fromFirst ? 0 : -1) {}

void OutputCheck::Feed(const char* bytes, size_t size)
{
    partial_.append(bytes, size);
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1)
        Line(partial_.substr(start, end - start));
    partial_.erase(0, start);
}

void OutputCheck::Line(std::string line)
{
    line = Shown(line);
    size_t notice = line.find(kNotice);
    if (!cut_.empty() && notice != 0)
        Malformed(cut_);
    cut_.clear();
    if (line.compare(0, kNumbered.size(), kNumbered) == 0) {
        Numbered(line);
    } else if (!line.empty() && kNumbered.compare(0, line.size(), line) == 0) {
        cut_ = line;  // cut before its number
    } else if (notice != std::string::npos) {
        ++figures_.notices;
        long long count = std::atoll(line.c_str() + notice + kNotice.size());
        figures_.announced += count;
        pending_ += count;
    } else if (line.compare(0, kTooLong.size(), kTooLong) == 0) {
        ++figures_.refusals;
    } else if (line == kTooMany) {
        figures_.turnedAway = true;
    }
}

void OutputCheck::Numbered(const std::string& line)
{
    char* end = nullptr;
    long long number = std::strtoll(line.c_str() + kNumbered.size(), &end, 10);
    if (end == line.c_str() + kNumbered.size() && line.size() == kNumbered.size()) {
        cut_ = line;
        return;
    }
    std::string whole = kNumbered + std::to_string(number) + " ";
    whole.resize(lineBytes_ - 1, static_cast<char>('0' + number % 10));
    size_t note = line.find(kRunNote);
    if (note != std::string::npos && note <= whole.size() && whole.compare(0, note, line, 0, note) == 0) {
        ++figures_.cutByCrash;
        return;
    }
    // A line that a reader missed the rest of ends where the notice starts.
    if (line != whole && number > 0 && whole.compare(0, line.size(), line) == 0) {
        cut_ = line;
        return;
    }
    if (line != whole || number <= 0) {
        Malformed(line);
        return;
    }
    if (last_ >= 0 && number <= last_) {
        // A new engine start numbers from 1 again.
        ++figures_.engineStarts;
        last_ = 0;
    }
    if (last_ >= 0 && number > last_ + 1)
        Missing(number - last_ - 1);
    ++figures_.received;
    last_ = number;
    pending_ = 0;
}

void OutputCheck::Malformed(const std::string& line)
{
    if (++figures_.malformed == 1)
        figures_.firstMalformed = line + " (after line " + std::to_string(last_) + ")";
}

void OutputCheck::Missing(long long count)
{
    ++figures_.gaps;
    figures_.missing += count;
    if (pending_ < count)
        figures_.unannounced += count - pending_;
}
