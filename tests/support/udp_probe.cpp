#include "udp_probe.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Address(const std::string& ip, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1)
        std::abort();
    return address;
}

}  // namespace

UdpProbe::UdpProbe(const std::string& address)
{
    descriptor_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = Address(address, 0);
    if (descriptor_ < 0 || bind(descriptor_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
        std::abort();
}

UdpProbe::~UdpProbe()
{
    close(descriptor_);
}

int UdpProbe::Port() const
{
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

void UdpProbe::SendTo(int port, const std::string& datagram, const std::string& address) const
{
    sockaddr_in to = Address(address, port);
    sendto(descriptor_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof(to));
}

std::string UdpProbe::Receive(int waitMilliseconds, int* fromPort) const
{
    pollfd readable{descriptor_, POLLIN, 0};
    if (poll(&readable, 1, waitMilliseconds) <= 0)
        return "<none>";
    char buffer[2048];
    sockaddr_in from{};
    socklen_t size = sizeof(from);
    ssize_t length = recvfrom(descriptor_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return length < 0 ? "<none>" : std::string(buffer, static_cast<size_t>(length));
}

std::string QueryDatagram(int type, const std::string& token)
{
    return std::string("TARN") + '\x01' + static_cast<char>(type) + token;
}

std::string InfoDatagram(const std::string& token, const std::string& challenge)
{
    return QueryDatagram(kQueryInfo, token) + challenge;
}

int ListeningPort(const std::string& output)
{
    const std::string marker = "Listening on ";
    size_t at = output.rfind(marker);
    if (at == std::string::npos)
        return -1;
    size_t colon = output.find(':', at);
    return colon == std::string::npos ? -1 : std::atoi(output.c_str() + colon + 1);
}
