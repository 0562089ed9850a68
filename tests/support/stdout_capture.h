#ifndef TARN_TESTS_SUPPORT_STDOUT_CAPTURE_H
#define TARN_TESTS_SUPPORT_STDOUT_CAPTURE_H

// Collects what the code under test writes to standard output (descriptor 1
// and the stdout stream) between construction and Text().

#include <cstdio>
#include <string>
#include <unistd.h>

class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }

    ~StdoutCapture() { Restore(); }

    // Everything written so far; ends the capture.
    std::string Text()
    {
        Restore();
        std::string text;
        std::rewind(file_);
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_))
            text += static_cast<char>(c);
        return text;
    }

private:
    void Restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }

    FILE* file_;
    int saved_;
};

#endif
