#include "engine_options.h"

#include "console_print.h"
#include "query_protocol.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace {

// Longer than any address or port: a longer value is refused.
constexpr int kValueSize = 64;
constexpr long kMaxPort = 65535;
constexpr const char* kDefaultAddress = "127.0.0.1";

struct SwitchValue {
    bool found = false;
    bool fits = true;
    char text[kValueSize] = "";
};

// The start of the word after the one at word, or of the line's end.
const char* NextWord(const char* word)
{
    word += std::strcspn(word, " ");
    return word + std::strspn(word, " ");
}

bool WordIs(const char* word, const char* name)
{
    size_t length = std::strcspn(word, " ");
    return length == std::strlen(name) && std::strncmp(word, name, length) == 0;
}

SwitchValue FindSwitch(const char* line, const char* name)
{
    SwitchValue value;
    for (const char* word = line + std::strspn(line, " "); *word; word = NextWord(word)) {
        if (!WordIs(word, name))
            continue;
        const char* text = NextWord(word);
        size_t length = std::strcspn(text, " ");
        value.found = true;
        value.fits = length < sizeof(value.text);
        length = value.fits ? length : sizeof(value.text) - 1;
        std::memcpy(value.text, text, length);
        value.text[length] = '\0';
        break;
    }
    return value;
}

bool Address_ParsePort(const SwitchValue& value, long* port)
{
    const char* text = value.text;
    if (!value.fits || text[0] == '\0' || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    *port = std::strtol(text, nullptr, 10);
    return *port <= kMaxPort;
}

// A switch at the end of the command line takes the launcher's own last
// word, or none: that is a missing value, not a wrong one.
void ReportBadValue(const char* name, const char* wanted, const char* value)
{
    if (value[0] == '\0' || value[0] == '-')
        Con_Printf("%s needs %s.\n", name, wanted);
    else
        Con_Printf("%s needs %s, not \"%s\".\n", name, wanted, value);
}

bool ReadAddress(const char* commandLine, in_addr* address)
{
    SwitchValue ip = FindSwitch(commandLine, "-ip");
    const char* text = ip.found ? ip.text : kDefaultAddress;
    if (ip.fits && inet_pton(AF_INET, text, address) == 1)
        return true;
    ReportBadValue("-ip", "an IPv4 address such as 127.0.0.1", text);
    return false;
}

bool ReadPort(const char* commandLine, in_port_t* networkOrderPort)
{
    SwitchValue value = FindSwitch(commandLine, "-port");
    long port = QUERY_DEFAULT_PORT;
    if (value.found && !Address_ParsePort(value, &port)) {
        ReportBadValue("-port", "a number from 0 to 65535", value.text);
        return false;
    }
    *networkOrderPort = htons(static_cast<uint16_t>(port));
    return true;
}

}  // namespace

bool Engine_ReadOptions(const char* commandLine, sockaddr_in* address)
{
    std::memset(address, 0, sizeof(*address));
    address->sin_family = AF_INET;
    return ReadAddress(commandLine, &address->sin_addr) && ReadPort(commandLine, &address->sin_port);
}
