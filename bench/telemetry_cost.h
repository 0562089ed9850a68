#ifndef TARN_BENCH_TELEMETRY_COST_H
#define TARN_BENCH_TELEMETRY_COST_H

#include <string>

// The frame telemetry: what the clocks it could read cost here, its two
// per-frame calls alone, the sizes of the two metrics pages and the time to
// write each, the launcher flat out with every feature on, the
// frame rate against the build before the telemetry while a scraper polls
// /metrics every 100 ms, and the histograms of a run with a 50 ms hitch
// every 1000 frames (for the plot of the operators' guide). Prints
// markdown; writes telemetry-<arch>.csv and telemetry-histograms-<arch>.txt
// into directory. The build before the telemetry is the launcher that
// TARN_BENCH_BASELINE names.
void TelemetrySection(const std::string& directory, const std::string& arch);

#endif
