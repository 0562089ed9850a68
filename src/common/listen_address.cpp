#include "common/listen_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace {

constexpr long kMaxPort = 65535;
// "[" and the longest IPv6 literal with a zone-less form, and room to spare.
constexpr size_t kMaxAddressLength = INET6_ADDRSTRLEN + 2;

// Reads literal into the address's field at host, and keeps the whole
// address in out; false when literal is no address of family.
template <typename SocketAddress>
bool Keep(const SocketAddress& address, int family, const char* literal, void* host, ListenAddress& out)
{
    if (inet_pton(family, literal, host) != 1)
        return false;
    std::memcpy(&out.storage, &address, sizeof(address));
    out.length = sizeof(address);
    return true;
}

bool ParseIPv4(const char* text, int port, ListenAddress& out)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    return Keep(address, AF_INET, text, &address.sin_addr, out);
}

// text is "[literal]".
bool ParseIPv6(const char* text, size_t length, int port, ListenAddress& out)
{
    char literal[kMaxAddressLength];
    if (length < 2 || length - 2 >= sizeof(literal) || text[length - 1] != ']')
        return false;
    std::memcpy(literal, text + 1, length - 2);
    literal[length - 2] = '\0';
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    return Keep(address, AF_INET6, literal, &address.sin6_addr, out);
}

}  // namespace

int Address_ParsePort(const char* text)
{
    long port = 0;
    for (const char* digit = text; *digit; ++digit) {
        if (*digit < '0' || *digit > '9' || port > kMaxPort)
            return 0;
        port = port * 10 + (*digit - '0');
    }
    return port <= kMaxPort ? static_cast<int>(port) : 0;
}

bool Address_ParseListen(const char* text, ListenAddress& out)
{
    const char* colon = std::strrchr(text, ':');
    int port = Address_ParsePort(colon ? colon + 1 : text);
    if (port == 0)
        return false;
    if (!colon)
        return ParseIPv4("127.0.0.1", port, out);
    size_t length = static_cast<size_t>(colon - text);
    if (text[0] == '[')
        return ParseIPv6(text, length, port, out);
    char literal[kMaxAddressLength];
    if (length >= sizeof(literal))
        return false;
    std::memcpy(literal, text, length);
    literal[length] = '\0';
    return ParseIPv4(literal, port, out);
}
