#include "query_challenge.h"

#include "console_print.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

constexpr int64_t kWindowMicroseconds = 30 * 1000000LL;
// Address, port and window number.
constexpr int kMessageSize = 4 + 2 + 8;

// getrandom, or /dev/urandom where a filter or an old kernel refuses it.
bool ReadRandom(unsigned char* out, int size)
{
    if (getrandom(out, static_cast<size_t>(size), 0) == size)
        return true;
    int descriptor = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool complete = descriptor >= 0 && read(descriptor, out, static_cast<size_t>(size)) == size;
    if (descriptor >= 0)
        close(descriptor);
    return complete;
}

// Compares in a time that does not depend on where the bytes differ.
bool SameBytes(const QueryChallenge& a, const QueryChallenge& b)
{
    unsigned char difference = 0;
    for (int i = 0; i < QUERY_CHALLENGE_SIZE; ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

bool QueryChallenger::Start()
{
    if (ReadRandom(key_, kHashKeySize))
        return true;
    Con_Printf("Cannot read random bytes for the query challenges: %s.\n", std::strerror(errno));
    return false;
}

void QueryChallenger::ForWindow(const sockaddr_in& client, int64_t window, QueryChallenge& out) const
{
    unsigned char message[kMessageSize];
    std::memcpy(message, &client.sin_addr.s_addr, 4);
    std::memcpy(message + 4, &client.sin_port, 2);
    for (int i = 0; i < 8; ++i)
        message[6 + i] = static_cast<unsigned char>(static_cast<uint64_t>(window) >> (8 * i));
    uint64_t hash = Hash_Keyed(key_, message, kMessageSize);
    for (int i = 0; i < QUERY_CHALLENGE_SIZE; ++i)
        out[i] = static_cast<unsigned char>(hash >> (8 * i));
}

void QueryChallenger::Make(const sockaddr_in& client, int64_t now, QueryChallenge& out) const
{
    ForWindow(client, now / kWindowMicroseconds, out);
}

bool QueryChallenger::Accepts(const sockaddr_in& client, int64_t now,
                              const QueryChallenge& challenge) const
{
    int64_t window = now / kWindowMicroseconds;
    QueryChallenge expected;
    for (int64_t w = window; w >= window - 1; --w) {
        ForWindow(client, w, expected);
        if (SameBytes(expected, challenge))
            return true;
    }
    return false;
}
