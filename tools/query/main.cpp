// tarn-query: pings a reference server over its UDP query protocol and
// prints round-trip times, or prints the server's info, escaped.
//
//   tarn-query [-c COUNT] [-w MILLISECONDS] [-info] [HOST[:PORT]]
//
// Exit status: 0 when the server replied at least once, 1 when it never
// did, 2 when the arguments or the address are not usable.
#include "common/clock.h"
#include "common/text_escaper.h"
#include "query_client.h"
#include "query_protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kHostSize = 256;
constexpr int kPortSize = 8;
constexpr int kInfoSize = QUERY_MAX_DATAGRAM;
constexpr int kMaxCount = 1000;
constexpr int kMaxWaitMilliseconds = 60000;
constexpr int kMaxPort = 65535;
constexpr long kPingGapNanoseconds = 100 * 1000000L;
constexpr int kExitReplied = 0;
constexpr int kExitNoReply = 1;
constexpr int kExitUsage = 2;

struct Options {
    int count = 4;
    int waitMilliseconds = 1000;
    bool info = false;
    char host[kHostSize] = "127.0.0.1";
    char port[kPortSize] = "";
};

struct Tally {
    int sent = 0;
    int received = 0;
    double minMilliseconds = 0;
    double maxMilliseconds = 0;
    double totalMilliseconds = 0;
};

// The whole of text as a decimal number from low to high: no sign, no
// blanks, nothing after the digits.
bool ReadNumber(const char* text, int low, int high, int* value)
{
    if (!text[0] || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    errno = 0;
    long number = std::strtol(text, nullptr, 10);
    if (errno != 0 || number < low || number > high)
        return false;
    *value = static_cast<int>(number);
    return true;
}

// Splits "HOST[:PORT]"; false when a part does not fit or the port is not
// a number from 1 to 65535 (the resolver would take 99999 modulo 65536).
bool ReadServer(const char* text, Options* options)
{
    const char* colon = std::strrchr(text, ':');
    size_t hostLength = colon ? static_cast<size_t>(colon - text) : std::strlen(text);
    int port = 0;
    if (hostLength == 0 || hostLength >= sizeof(options->host) ||
        (colon && !ReadNumber(colon + 1, 1, kMaxPort, &port)))
        return false;
    std::memcpy(options->host, text, hostLength);
    options->host[hostLength] = '\0';
    if (colon)
        std::snprintf(options->port, sizeof(options->port), "%d", port);
    return true;
}

bool ReadArguments(int argc, char** argv, Options* options)
{
    bool serverSeen = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (std::strcmp(argument, "-c") == 0 && hasValue) {
            if (!ReadNumber(argv[++i], 1, kMaxCount, &options->count))
                return false;
        } else if (std::strcmp(argument, "-w") == 0 && hasValue) {
            if (!ReadNumber(argv[++i], 1, kMaxWaitMilliseconds, &options->waitMilliseconds))
                return false;
        } else if (std::strcmp(argument, "-info") == 0) {
            options->info = true;
        } else if (argument[0] != '-' && !serverSeen) {
            serverSeen = true;
            if (!ReadServer(argument, options))
                return false;
        } else {
            return false;
        }
    }
    if (!options->port[0])
        std::snprintf(options->port, sizeof(options->port), "%d", QUERY_DEFAULT_PORT);
    return true;
}

void Record(Tally& tally, double milliseconds)
{
    if (tally.received == 0 || milliseconds < tally.minMilliseconds)
        tally.minMilliseconds = milliseconds;
    if (milliseconds > tally.maxMilliseconds)
        tally.maxMilliseconds = milliseconds;
    tally.totalMilliseconds += milliseconds;
    ++tally.received;
}

void PingOnce(QueryClient& client, const Options& options, int sequence, uint32_t token, Tally& tally)
{
    int64_t sent = Clock_Microseconds();
    ExchangeResult result = client.Exchange(QUERY_PING, token, options.waitMilliseconds, nullptr, 0);
    double milliseconds = static_cast<double>(Clock_Microseconds() - sent) / 1000.0;
    ++tally.sent;
    if (result == EXCHANGE_REPLIED) {
        Record(tally, milliseconds);
        std::printf("reply from %s: seq=%d time=%.3f ms\n", client.ServerText(), sequence, milliseconds);
    } else if (result == EXCHANGE_REFUSED) {
        std::printf("no reply: seq=%d, nothing listens on %s\n", sequence, client.ServerText());
    } else {
        std::printf("no reply: seq=%d, timed out after %d ms\n", sequence, options.waitMilliseconds);
    }
    std::fflush(stdout);
}

int Ping(QueryClient& client, const Options& options)
{
    std::printf("PING %s\n", client.ServerText());
    Tally tally;
    uint32_t base = static_cast<uint32_t>(getpid()) << 16;
    for (int sequence = 1; sequence <= options.count; ++sequence) {
        if (sequence > 1) {
            timespec gap{0, kPingGapNanoseconds};
            nanosleep(&gap, nullptr);
        }
        PingOnce(client, options, sequence, base + static_cast<uint32_t>(sequence), tally);
    }
    std::printf("--- %s: %d sent, %d received, %d lost\n", client.ServerText(), tally.sent,
                tally.received, tally.sent - tally.received);
    if (tally.received > 0)
        std::printf("round trip min/avg/max = %.3f/%.3f/%.3f ms\n", tally.minMilliseconds,
                    tally.totalMilliseconds / tally.received, tally.maxMilliseconds);
    return tally.received > 0 ? kExitReplied : kExitNoReply;
}

// The server's bytes as they may reach the operator's terminal: a byte
// outside 32 to 126 as \xNN, the backslash as \\, the info's line breaks
// as they are.
void PrintEscaped(const char* text, int length)
{
    FixedText<TextEscaper::StorageFor(kInfoSize)> shown;
    TextEscaper escaper(EscapeKeep::kAscii);
    escaper.Add(text, static_cast<size_t>(length), shown);
    std::fwrite(shown.Text(), 1, shown.Length(), stdout);
}

int Info(QueryClient& client, const Options& options)
{
    char text[kInfoSize];
    ExchangeResult result = client.Exchange(QUERY_INFO, static_cast<uint32_t>(getpid()),
                                            options.waitMilliseconds, text, sizeof(text));
    if (result != EXCHANGE_REPLIED) {
        std::printf("no reply from %s\n", client.ServerText());
        return kExitNoReply;
    }
    PrintEscaped(text, client.PayloadLength());
    return kExitReplied;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ReadArguments(argc, argv, &options)) {
        std::printf("usage: tarn-query [-c COUNT] [-w MILLISECONDS] [-info] [HOST[:PORT]]\n"
                    "  pings a server (default 127.0.0.1:%d; PORT 1 to %d) COUNT times (1 to %d,\n"
                    "  default 4), waiting up to MILLISECONDS (1 to %d, default 1000) for each\n"
                    "  reply; -info asks for its info.\n",
                    QUERY_DEFAULT_PORT, kMaxPort, kMaxCount, kMaxWaitMilliseconds);
        return kExitUsage;
    }
    QueryClient client;
    if (!client.Connect(options.host, options.port))
        return kExitUsage;
    return options.info ? Info(client, options) : Ping(client, options);
}
