#ifndef TARN_TESTS_COMMON_DIAGNOSTICS_FIXTURE_H
#define TARN_TESTS_COMMON_DIAGNOSTICS_FIXTURE_H

// A fresh working directory and a diagnostics library in its start state:
// empty trace ring, cursor 0, no error log written yet.

#include "common/diagnostics.h"
#include "temp_workdir.h"

#include <cstdio>
#include <cstring>
#include <string>

class DiagnosticsTest : public TempWorkdir {
protected:
    void SetUp() override
    {
        TempWorkdir::SetUp();
        std::memset(g_LogEntries, 0, sizeof(g_LogEntries));
        g_iCurrentEntry = 0;
        g_iLogNumber = 0;
    }

    static std::string LogPath(int number)
    {
        char path[64];
        std::snprintf(path, sizeof(path), "errorlogs/errorlog%.5d.txt", number);
        return path;
    }

    static std::string Log(int number) { return ReadFile(LogPath(number)); }

    // The file expected for a message and trace lines given newest first.
    static std::string LogText(const std::string& message, const std::string& traceLines = "")
    {
        return "Error:" + message + "\n\nFunction trace:\n" + traceLines;
    }
};

#endif
