#ifndef TARN_TESTS_SOAK_ENGINE_LOG_H
#define TARN_TESTS_SOAK_ENGINE_LOG_H

// What the test engine's log says about a soak run: the frame gaps over
// 100 ms, the lines it was handed and when, the starts, restarts and
// crashes.

#include <map>
#include <string>
#include <vector>

struct EngineLog {
    long long starts = 0;
    long long restarts = 0;    // "restart" lines run
    long long crashes = 0;     // "crash" lines run
    std::vector<long long> gapsUs;  // frame intervals over 100 ms, within a start
    long long longestUs = 0;        // the longest interval of a start that shut down, or a gap
    std::map<int, std::vector<long long>> clientLines;  // client id -> sequence numbers, as run
    long long linesRun = 0;
    long long worstLatencyUs = 0;  // from a client's writing of a line to its run
    long long latencySumUs = 0;
};

EngineLog EngineLog_Read(const std::vector<std::string>& log);

#endif
