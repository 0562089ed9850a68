// Splitting a fuzz input into its fields.
#ifndef TARN_FUZZ_SPLIT_H
#define TARN_FUZZ_SPLIT_H

#include <string_view>
#include <vector>

// The parts of text between separators; n separators give n + 1 parts.
inline std::vector<std::string_view> Fuzz_Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string_view::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

#endif
