// The frame telemetry at startup, and its HTTP endpoint when -metrics asks
// for one.
#ifndef TARN_LAUNCHER_METRICS_SWITCH_H
#define TARN_LAUNCHER_METRICS_SWITCH_H

// Starts the telemetry; with -metrics [ADDRESS:]PORT, binds the endpoint.
// False, after one line on standard output, when the value is no such
// address or the port cannot be bound: the start fails.
bool MetricsSwitch_Open();

#endif
