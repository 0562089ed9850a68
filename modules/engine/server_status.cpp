#include "server_status.h"

#include "console_print.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr int kInfoTextSize = 512;

void PrintUptime(int64_t microseconds)
{
    int64_t seconds = microseconds / kMicrosecondsPerSecond;
    Con_Printf("uptime    %" PRId64 ":%02d:%02d\n", seconds / kSecondsPerHour,
               static_cast<int>(seconds % kSecondsPerHour / kSecondsPerMinute),
               static_cast<int>(seconds % kSecondsPerMinute));
}

void PrintIntervals(FrameStats& stats)
{
    IntervalPercentiles intervals = stats.Percentiles();
    if (intervals.samples == 0) {
        Con_Printf("interval  no frame yet\n");
        return;
    }
    Con_Printf("interval  p50 %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms (last %d frames)\n",
               intervals.p50Milliseconds, intervals.p90Milliseconds, intervals.p99Milliseconds,
               intervals.maxMilliseconds, intervals.samples);
}

}  // namespace

void Server_PrintStatus(ServerState& server, int64_t now)
{
    Con_Printf("address   %s (UDP)\n", server.socket.AddressText());
    PrintUptime(server.stats.UptimeMicroseconds(now));
    Con_Printf("frames    %" PRId64 "\n", server.stats.Frames());
    Con_Printf("rate      %.1f frames/s over the last second\n", server.stats.FrameRate(now));
    PrintIntervals(server.stats);
    Con_Printf("queries   %" PRId64 " served\n", server.queriesServed);
}

int Server_InfoText(const ServerState& server, int64_t now, char* out, int size)
{
    char text[kInfoTextSize];
    int length = std::snprintf(
        text, sizeof(text),
        "engine=tarn-reference\naddress=%s\nuptime=%" PRId64 "\nframes=%" PRId64
        "\nrate=%.1f\nqueries=%" PRId64 "\n",
        server.socket.AddressText(), server.stats.UptimeMicroseconds(now) / kMicrosecondsPerSecond,
        server.stats.Frames(), server.stats.FrameRate(now), server.queriesServed);
    if (length < 0 || size <= 0)
        return 0;
    length = length < static_cast<int>(sizeof(text)) ? length : static_cast<int>(sizeof(text)) - 1;
    length = length < size ? length : size;
    std::memcpy(out, text, static_cast<size_t>(length));
    return length;
}
