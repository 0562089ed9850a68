#ifndef TARN_TESTS_SUPPORT_CONTROL_CLIENT_H
#define TARN_TESTS_SUPPORT_CONTROL_CLIENT_H

// A client of the launcher's control socket, as tarn-console is one.

#include <string>

class ControlClient {
public:
    explicit ControlClient(const std::string& path);
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    void Send(const std::string& text) const;
    // Reads until what arrived holds text, the launcher closes, or the time
    // passes; true when it holds text.
    bool ReadUntil(const std::string& text, int timeoutMilliseconds = 10000);
    const std::string& Received() const { return received_; }
    // Waits, reading nothing, until the launcher has closed the connection.
    bool WaitClosedUnread(int timeoutMilliseconds) const;

private:
    int fd_ = -1;
    std::string received_;
};

#endif
