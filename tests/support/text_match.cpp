#include "text_match.h"

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::vector<std::string> Matching(const std::vector<std::string>& log, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : log)
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

std::string First(const std::vector<std::string>& log, const std::string& prefix)
{
    std::vector<std::string> found = Matching(log, prefix);
    return found.empty() ? "<none>" : found.front();
}

std::string Last(const std::vector<std::string>& log)
{
    return log.empty() ? "<none>" : log.back();
}

ProbedFrame LastProbedFrame(const std::vector<std::string>& log)
{
    const std::string frame = "frame ", polls = "poll_select=", bytes = "stdin_bytes=";
    std::string last = Last(Matching(log, frame));
    size_t pollsAt = last.find(polls), bytesAt = last.find(bytes);
    ProbedFrame found;
    if (last.rfind(frame, 0) == 0 && pollsAt != std::string::npos && bytesAt != std::string::npos) {
        found.frame = std::stoi(last.substr(frame.size()));
        found.polls = std::stoi(last.substr(pollsAt + polls.size()));
        found.stdinBytes = std::stol(last.substr(bytesAt + bytes.size()));
    }
    return found;
}
