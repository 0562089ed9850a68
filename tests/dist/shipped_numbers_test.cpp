// The numbers of the shipped unit, fleet and compose files that the
// launcher's own timing bounds, read from the files and compared with the
// constants the launcher runs with.
#include "output/output.h"
#include "service/supervisors/agones_sdk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr double kSecondsPerMicrosecond = 0.000001;
// The longest the launcher spends stopping beyond the engine's Shutdown:
// /shutdown to the Agones sidecar, then what still waits for the output's
// reader.
constexpr double kBoundedStop = (kAgonesShutdownBudget + kDrainMicroseconds) * kSecondsPerMicrosecond;
constexpr double kHealthInterval = kAgonesHealthInterval * kSecondsPerMicrosecond;

enum class Relation { kAtLeast, kMoreThan };

struct Row {
    const char* file;  // below the source tree
    const char* key;   // `key: N` in YAML, `Key=N` in a unit; N may end in s
    Relation relation;
    double seconds;
};

const Row kRows[] = {
    // A health period forgives one late /health call.
    {"dist/agones/fleet.yaml", "periodSeconds", Relation::kAtLeast, 2 * kHealthInterval},
    {"dist/agones/fleet.yaml", "initialDelaySeconds", Relation::kAtLeast, kHealthInterval},
    // A kill comes only after the stop had its time, and the engine's
    // Shutdown some more.
    {"dist/agones/fleet.yaml", "terminationGracePeriodSeconds", Relation::kMoreThan, kBoundedStop},
    {"dist/compose.yaml", "stop_grace_period", Relation::kMoreThan, kBoundedStop},
    {"dist/tarn@.service.in", "TimeoutStopSec", Relation::kMoreThan, kBoundedStop},
};

// The number on the one line of the file that sets key, in seconds; NaN
// when no line or more than one sets it, or its value is not a number.
double Setting(const std::string& path, const std::string& key)
{
    std::ifstream file(path);
    std::string line;
    double value = NAN;
    int found = 0;
    while (std::getline(file, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        const char* rest = line.c_str() + start + key.size();
        if (*rest != ':' && *rest != '=')
            continue;
        char* end = nullptr;
        value = std::strtod(rest + 1, &end);
        std::string unit = std::string(end).substr(0, std::string(end).find('#'));
        unit.erase(unit.find_last_not_of(" \t") + 1);
        if (end == rest + 1 || (!unit.empty() && unit != "s"))
            value = NAN;
        ++found;
    }
    return found == 1 ? value : NAN;
}

TEST(ShippedNumbersTest, FitTheLaunchersTiming)
{
    for (const Row& row : kRows) {
        double value = Setting(std::string(TARN_SOURCE_DIR) + "/" + row.file, row.key);
        SCOPED_TRACE(std::string(row.file) + ": " + row.key);
        if (std::isnan(value))
            ADD_FAILURE() << "not set once, to a number of seconds";
        else if (row.relation == Relation::kAtLeast)
            EXPECT_GE(value, row.seconds);
        else
            EXPECT_GT(value, row.seconds);
    }
}

}  // namespace
