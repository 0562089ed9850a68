#ifndef TARN_TESTS_SUPPORT_UDP_PROBE_H
#define TARN_TESTS_SUPPORT_UDP_PROBE_H

// A UDP socket on loopback for talking to a server under test, and the
// query protocol's datagrams written out byte for byte, so that the tests
// pin the format on the wire rather than share the server's code.

#include <string>

class UdpProbe {
public:
    // Bound to address on a port the system chooses.
    explicit UdpProbe(const std::string& address = "127.0.0.1");
    ~UdpProbe();
    UdpProbe(const UdpProbe&) = delete;
    UdpProbe& operator=(const UdpProbe&) = delete;

    // The probe's own port: taken as long as the probe lives.
    int Port() const;
    void SendTo(int port, const std::string& datagram, const std::string& address = "127.0.0.1") const;
    // The next datagram (its sender's port in fromPort when given), or
    // "<none>" when nothing came within the wait.
    std::string Receive(int waitMilliseconds = 10000, int* fromPort = nullptr) const;

private:
    int descriptor_ = -1;
};

constexpr int kQueryPing = 0x01;
constexpr int kQueryInfo = 0x02;
constexpr int kQueryReply = 0x80;
constexpr int kQueryChallengeReply = 0x83;

// "TARN", version 1, the type and the 4-byte token.
std::string QueryDatagram(int type, const std::string& token);
// An info request: the header and the 8-byte challenge.
std::string InfoDatagram(const std::string& token, const std::string& challenge = std::string(8, '\0'));

// The port of the last "Listening on ADDRESS:PORT" line of output, or -1.
int ListeningPort(const std::string& output);

#endif
