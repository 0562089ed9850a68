#ifndef TARN_TESTS_SUPPORT_TEXT_MATCH_H
#define TARN_TESTS_SUPPORT_TEXT_MATCH_H

// Looking for parts of what a program printed and for entries of the test
// modules' event log.

#include <cstddef>
#include <string>
#include <vector>

bool Contains(const std::string& text, const std::string& part);
// How often part stands in text, occurrences not overlapping.
size_t Count(const std::string& text, const std::string& part);

// Entries of log that begin with prefix.
std::vector<std::string> Matching(const std::vector<std::string>& log, const std::string& prefix);
// The first entry of log that begins with prefix, or "<none>".
std::string First(const std::vector<std::string>& log, const std::string& prefix);
// The last entry of log, or "<none>".
std::string Last(const std::vector<std::string>& log);

// The test engine's last frame entry with the pacing probe's counters: the
// frame's number, and the console polls made and the bytes read from
// standard input before it; -1 each without one.
struct ProbedFrame {
    int frame = -1;
    int polls = -1;
    long stdinBytes = -1;
};
ProbedFrame LastProbedFrame(const std::vector<std::string>& log);

#endif
