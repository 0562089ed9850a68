// tarn-run's watchdog: a notify socket of its own for the launcher, and a
// watch over the launcher's pings on it.
#ifndef TARN_RUN_WATCHDOG_H
#define TARN_RUN_WATCHDOG_H

#include <cstdint>
#include <sys/types.h>

class Watchdog {
public:
    Watchdog() = default;
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // Closes the socket and removes it with its directory.
    ~Watchdog();

    // Binds the socket in a new directory of mode 0700 below $TMPDIR (or
    // /tmp); false, with errno set, when that fails. An abstract address
    // would do without files, but anyone can send to one: a flood from
    // another user would crowd the launcher's pings out of its queue.
    bool Open(int seconds);
    // In the launcher's process, before it runs: its notify socket and
    // watchdog in place of any that tarn-run inherited.
    void Export() const;
    int Socket() const { return socket_; }

    // A new launcher runs: nothing heard from it yet.
    void Watch(pid_t launcher);
    // Reads what arrived; only the launcher's own messages count.
    void Receive(int64_t nowMilliseconds);
    // When Act is due next (monotonic milliseconds), or -1 for never.
    int64_t Due() const;
    // Ends a launcher whose pings stopped: SIGABRT first, for a core, and
    // SIGKILL if it is still there 5 s later.
    void Act(int64_t nowMilliseconds);

private:
    void Heard(const char* text, int64_t nowMilliseconds);
    bool Bind();

    int socket_ = -1;
    char directory_[108] = {};  // the private directory, once made
    char address_[108] = {};    // NOTIFY_SOCKET's text: the socket's path, once bound
    int64_t limit_ = 0;       // the silence that ends the launcher, in milliseconds
    pid_t launcher_ = 0;
    bool armed_ = false;      // from the first sign of readiness until STOPPING=1
    int64_t lastSign_ = 0;
    int64_t abortedAt_ = -1;  // when SIGABRT went out, or -1
    bool killed_ = false;
};

#endif
