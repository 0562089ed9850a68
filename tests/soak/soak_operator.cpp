#include "soak_operator.h"

#include "launcher_spawn.h"

#include <fstream>

namespace {

const char* const kCommands[] = {"restart", "crash", "quit"};
constexpr long long kRetryMs = 200;
constexpr long long kPatienceMs = 10000;

int Index(const std::string& command)
{
    for (int i = 0; i < 3; ++i)
        if (command == kCommands[i])
            return i;
    return 0;
}

}  // namespace

void SoakOperator::Ask(const std::string& command, long long nowMs)
{
    if (!command_.empty())
        return;
    command_ = command;
    runBefore_ = RunCount(command);
    retryAtMs_ = nowMs;
}

bool SoakOperator::Step(long long nowMs)
{
    if (command_.empty())
        return false;
    if (RunCount(command_) > runBefore_) {
        command_.clear();
        connection_.reset();
        return true;
    }
    if (connection_) {
        connection_->ReadUntil(std::string(1, '\0'), 1);  // reading, so that it is never taken for gone
        bool turnedAway = connection_->Received().find("Refused: too many clients.") != std::string::npos;
        if ((turnedAway || connection_->WaitClosedUnread(0) || nowMs >= giveUpAtMs_))
            connection_.reset();
        return false;
    }
    if (nowMs < retryAtMs_)
        return false;
    retryAtMs_ = nowMs + kRetryMs;
    connection_ = std::make_unique<ControlClient>(directory_ + "/control.sock");
    if (!connection_->Connected()) {
        connection_.reset();
        return false;
    }
    connection_->Send(command_ + "\n");
    giveUpAtMs_ = nowMs + kPatienceMs;
    return false;
}

// How often the engine's log shows command run, read on from where the
// last look ended.
long long SoakOperator::RunCount(const std::string& command)
{
    std::ifstream log(directory_ + "/" + kEventLogName, std::ios::binary);
    log.seekg(logOffset_);
    std::string more((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    logOffset_ += static_cast<long long>(more.size());
    logTail_ += more;
    size_t end = logTail_.rfind('\n');
    if (end != std::string::npos) {
        for (int i = 0; i < 3; ++i) {
            std::string ran = std::string("text=[") + kCommands[i] + "\\n]";
            for (size_t at = logTail_.find(ran); at != std::string::npos && at < end; at = logTail_.find(ran, at + 1))
                ++runs_[i];
        }
        logTail_.erase(0, end + 1);
    }
    return runs_[Index(command)];
}
