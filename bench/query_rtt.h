#ifndef TARN_BENCH_QUERY_RTT_H
#define TARN_BENCH_QUERY_RTT_H

#include <vector>

// Round-trip times (nanoseconds) of count pings, one after the other, to
// the reference server on loopback run by the launcher with -pingboost
// strategy. Empty when the server did not answer.
std::vector<long long> ReferenceServerRoundTrips(int strategy, int count);

// The same against the floor: a blocking recvfrom echo server.
std::vector<long long> EchoServerRoundTrips(int count);

#endif
