#ifndef TARN_TESTS_SUPPORT_TEMP_WORKDIR_H
#define TARN_TESTS_SUPPORT_TEMP_WORKDIR_H

// A test fixture that runs each test in a fresh, empty working directory
// below the system's temporary directory, removed afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempWorkdir : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "tarn-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::filesystem::current_path(dir_);
    }

    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }

    // The whole content of a file, or "<missing>" when it cannot be read.
    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return "<missing>";
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

    static void WriteFile(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

#endif
