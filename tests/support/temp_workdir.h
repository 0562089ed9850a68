#ifndef TARN_TESTS_SUPPORT_TEMP_WORKDIR_H
#define TARN_TESTS_SUPPORT_TEMP_WORKDIR_H

// A test fixture that runs each test in a fresh, empty working directory
// below the system's temporary directory, removed afterwards. ReadFile and
// WriteFile (file_text.h) work on its files by relative names.

#include "file_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

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

private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

#endif
