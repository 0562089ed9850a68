#ifndef TARN_TESTS_SUPPORT_FILE_TEXT_H
#define TARN_TESTS_SUPPORT_FILE_TEXT_H

// Whole files as text, for tests that set up and look at files.

#include <fstream>
#include <sstream>
#include <string>

// The whole content of a file, or "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

#endif
