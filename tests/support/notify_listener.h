#ifndef TARN_TESTS_SUPPORT_NOTIFY_LISTENER_H
#define TARN_TESTS_SUPPORT_NOTIFY_LISTENER_H

// The receiving end of a notify socket, as a service manager holds it: an
// AF_UNIX datagram socket at a path or, for "@name", an abstract address.

#include <string>
#include <vector>

struct Datagram {
    std::string text;  // "" when none came in time
    long long at = 0;  // the kernel's wall-clock time of arrival, microseconds
};

class NotifyListener {
public:
    explicit NotifyListener(const std::string& address);
    ~NotifyListener();
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    const std::string& Address() const { return address_; }
    // The next datagram, waiting up to the timeout.
    Datagram Next(int timeoutMilliseconds = 20000);
    // Every datagram up to the first that holds line as a line; it is the
    // last, and the text of a last empty one says that none came.
    std::vector<Datagram> Until(const std::string& line);

private:
    std::string address_;
    int socket_ = -1;
};

// True when text holds line as one of its lines.
bool HasLine(const std::string& text, const std::string& line);

#endif
