// The address a listener binds, as an operator writes it: the ports at
// their bounds and one past, the two literal forms, and every near miss,
// names included, refused without a lookup.
#include "common/listen_address.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>

namespace {

TEST(ListenAddressTest, APortIsDecimalDigitsFrom1To65535)
{
    struct Row { const char* text; int port; };
    const Row rows[] = {
        {"30100", 30100}, {"1", 1}, {"65535", 65535}, {"000000000000000000065535", 65535},
        {"0", 0}, {"65536", 0}, {"99999999999999999999999", 0}, {"", 0},
        {"+30100", 0}, {"-1", 0}, {" 30100", 0}, {"30100 ", 0}, {"0x7d0", 0}, {"3e4", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Address_ParsePort(row.text), row.port);
    }
}

// The address that out holds, as "literal port", or "" for another family.
std::string Written(const ListenAddress& out)
{
    char literal[INET6_ADDRSTRLEN] = {};
    if (out.storage.ss_family == AF_INET && out.length == sizeof(sockaddr_in)) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(out.storage);
        inet_ntop(AF_INET, &address.sin_addr, literal, sizeof(literal));
        return std::string(literal) + " " + std::to_string(ntohs(address.sin_port));
    }
    if (out.storage.ss_family == AF_INET6 && out.length == sizeof(sockaddr_in6)) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(out.storage);
        inet_ntop(AF_INET6, &address.sin6_addr, literal, sizeof(literal));
        return "[" + std::string(literal) + "] " + std::to_string(ntohs(address.sin6_port));
    }
    return "";
}

TEST(ListenAddressTest, TakesAnIPv4OrABracketedIPv6LiteralAndNoName)
{
    // bound: what is bound, or nullptr for a refusal.
    struct Row { std::string text; const char* bound; };
    const std::string longestIPv6 = "0000:0000:0000:0000:0000:ffff:255.255.255.255";
    ASSERT_EQ(longestIPv6.size(), INET6_ADDRSTRLEN - 1u);
    const Row rows[] = {
        {"30100", "127.0.0.1 30100"},
        {"0.0.0.0:30101", "0.0.0.0 30101"},
        {"192.0.2.7:65535", "192.0.2.7 65535"},
        {"[::1]:30102", "[::1] 30102"},
        {"[::]:1", "[::] 1"},
        {"[2001:db8::7]:30103", "[2001:db8::7] 30103"},
        {"[" + longestIPv6 + "]:30104", "[::ffff:255.255.255.255] 30104"},
        {"0", nullptr},
        {"192.0.2.7:0", nullptr},
        {"192.0.2.7:65536", nullptr},
        {"192.0.2.7:", nullptr},
        {"192.0.2.7:+30100", nullptr},
        {"192.0.2.7: 30100", nullptr},
        {" 192.0.2.7:30100", nullptr},
        {"192.0.2.7 :30100", nullptr},
        {":30100", nullptr},
        {"192.2:30100", nullptr},
        {"256.0.0.1:30100", nullptr},
        {"localhost:30100", nullptr},
        {"tarn.invalid:30100", nullptr},
        {"::1:30100", nullptr},
        {"[::1:30100", nullptr},
        {"::1]:30100", nullptr},
        {"[::1]30100", nullptr},
        {"[]:30100", nullptr},
        {"[192.0.2.7]:30100", nullptr},
        {"[fe80::1%lo]:30100", nullptr},
        {"[" + longestIPv6 + "0]:30100", nullptr},
        {std::string(300, '1') + ":30100", nullptr},
        {"[" + std::string(300, ':') + "]:30100", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        ListenAddress out;
        bool parsed = Address_ParseListen(row.text.c_str(), out);
        EXPECT_EQ(parsed, row.bound != nullptr);
        if (parsed && row.bound) {
            EXPECT_EQ(Written(out), row.bound);
        }
    }
}

}  // namespace
