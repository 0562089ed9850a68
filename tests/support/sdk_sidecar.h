// The real Agones SDK server from ../shared/agones in local mode, for tests
// and benchmarks. It logs every call as a JSON line with its time.
#ifndef TARN_TESTS_SUPPORT_SDK_SIDECAR_H
#define TARN_TESTS_SUPPORT_SDK_SIDECAR_H

#include <string>
#include <sys/types.h>
#include <vector>

// The first of count free TCP ports on 127.0.0.1 from 30300, searched from
// a place of this process's own so that parallel tests differ.
int FreeLoopbackPorts(int count);
// A non-blocking listener on 127.0.0.1:port, or -1.
int LoopbackListener(int port);
// A blocking connection to 127.0.0.1:port, or -1.
int LoopbackConnection(int port);

class SdkSidecar {
public:
    static std::string Binary();  // "" where ../shared/agones is missing
    explicit SdkSidecar(int delaySeconds = 0);
    ~SdkSidecar();
    SdkSidecar(const SdkSidecar&) = delete;
    SdkSidecar& operator=(const SdkSidecar&) = delete;

    std::string Port() const { return std::to_string(port_); }
    // Wall-clock times in µs of the calls logged with message, in order.
    std::vector<long long> Calls(const std::string& message) const;
    // Waits until count calls with message are logged; false after 20 s.
    bool WaitForCalls(const std::string& message, size_t count) const;
    // status.state of its GET /gameserver, or "".
    std::string State() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_;
};

#endif
