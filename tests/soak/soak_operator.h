#ifndef TARN_TESTS_SOAK_SOAK_OPERATOR_H
#define TARN_TESTS_SOAK_SOAK_OPERATOR_H

// The operator of the soak: sends "restart", "crash" and at the end "quit"
// on a connection of its own, kept until the engine's log shows the line
// ran (its echo may be among the lines a busy reader is spared). Refused,
// or between launcher processes, it tries again.

#include "control_client.h"

#include <memory>
#include <string>

class SoakOperator {
public:
    explicit SoakOperator(std::string directory) : directory_(std::move(directory)) {}

    // Starts sending command unless one is still on its way.
    void Ask(const std::string& command, long long nowMs);
    // True once the last command asked has run.
    bool Step(long long nowMs);
    bool Idle() const { return command_.empty(); }

private:
    long long RunCount(const std::string& command);

    std::string directory_;
    std::string command_;
    std::unique_ptr<ControlClient> connection_;
    long long retryAtMs_ = 0;
    long long giveUpAtMs_ = 0;
    long long runBefore_ = 0;
    long long logOffset_ = 0;
    std::string logTail_;
    long long runs_[3] = {};  // restart, crash, quit, as read from the log so far
};

#endif
