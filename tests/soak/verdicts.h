#ifndef TARN_TESTS_SOAK_VERDICTS_H
#define TARN_TESTS_SOAK_VERDICTS_H

// The soak's checks, each printed as one line with its figures, "ok" or
// "FAIL"; Verdicts_Print returns how many failed.

#include "engine_log.h"
#include "output_check.h"
#include "process_sample.h"
#include "scraper.h"
#include "soak_client.h"

#include <memory>
#include <string>
#include <vector>

struct SoakOutcome {
    bool emulated = false;  // i386 under qemu-i386-static: timing bounds loosened
    EngineLog engine;
    OutputFigures stdoutFigures;
    std::vector<std::unique_ptr<SoakClient>> clients;
    ScrapeFigures scrapes;
    ProcessSample firstBaseline;  // the first process, before any actor
    ProcessSample lastBaseline;   // the last process, settled
    ProcessSample end;            // the last process, every client gone
    long long crashesAsked = 0;
    int crashReports = 0;         // in errorlogs/, naming SIGSEGV
    std::string stopEvent;
    long long stopMs = 0;
    bool socketRemoved = false;
    long long stderrBytes = 0;
    long long longestTurnMs = 0;  // of the soak's own loop: a long one starves its readers
    long long longestTurnAtMs = 0;
};

int Verdicts_Print(const SoakOutcome& outcome);

#endif
