#include "engine_log.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

// "submit at_us=T before_frame=F length=L text=[cID SEQ SENT x...\n]"
void Submitted(const std::string& entry, EngineLog& log)
{
    size_t text = entry.find("text=[");
    if (text == std::string::npos)
        return;
    std::string line = entry.substr(text + 6);
    if (line.rfind("restart\\n]", 0) == 0)
        ++log.restarts;
    if (line.rfind("crash\\n]", 0) == 0)
        ++log.crashes;
    if (line.empty() || line[0] != 'c')
        return;
    std::istringstream words(line.substr(1));
    int id = -1;
    long long sequence = -1, sentUs = -1;
    if (!(words >> id >> sequence >> sentUs))
        return;
    long long ranUs = std::atoll(entry.c_str() + entry.find("at_us=") + 6);
    long long latency = ranUs - sentUs;
    log.clientLines[id].push_back(sequence);
    ++log.linesRun;
    log.latencySumUs += latency;
    if (latency > log.worstLatencyUs)
        log.worstLatencyUs = latency;
}

}  // namespace

EngineLog EngineLog_Read(const std::vector<std::string>& entries)
{
    EngineLog log;
    for (const std::string& entry : entries) {
        if (entry.rfind("initialize cycle=", 0) == 0)
            ++log.starts;
        else if (entry.rfind("frame gap us=", 0) == 0)
            log.gapsUs.push_back(std::atoll(entry.c_str() + 13));
        else if (entry.rfind("longest_interval_us=", 0) == 0)
            log.longestUs = std::max(log.longestUs, std::atoll(entry.c_str() + 20));
        else if (entry.rfind("submit at_us=", 0) == 0)
            Submitted(entry, log);
    }
    for (long long gap : log.gapsUs)
        log.longestUs = std::max(log.longestUs, gap);
    return log;
}
