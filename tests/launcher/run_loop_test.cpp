// The run loop over fakes: the order of a frame's steps, restarts, failed
// starts and a stop requested at each of its safe points, read from the
// trace of every call the loop makes.
#include "launcher/run_loop.h"

#include <tarn/engine_api.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// What the fakes do: set by the chained calls of a table row.
struct Script {
    std::vector<int> frames;  // per start: frames before RunFrame returns false
    std::vector<int> codes;   // per start: the shutdown code
    std::string refused;      // "load" or "start", refused at its refusedAt-th call
    int refusedAt = 0;
    std::string stopDuring;   // a stop signal arrives during this call's stopAt-th time;
    int stopAt = -1;          // 0: before the loop begins
    std::vector<std::string> typed;     // one console line per frame, "" for none
    std::vector<std::string> listened;  // listeners' lines, all before the first frame

    Script Refuse(std::string call, int at) const { Script s = *this; s.refused = call; s.refusedAt = at; return s; }
    Script StopDuring(std::string call, int at) const { Script s = *this; s.stopDuring = call; s.stopAt = at; return s; }
    Script Lines(std::vector<std::string> console, std::vector<std::string> peers) const
    {
        Script s = *this;
        s.typed = std::move(console);
        s.listened = std::move(peers);
        return s;
    }
};

Script Run(std::vector<int> frames, std::vector<int> codes)
{
    Script s;
    s.frames = std::move(frames);
    s.codes = std::move(codes);
    return s;
}

// One fake for all four parts; every call leaves a word in the trace.
class Fakes final : public IRunEngine, public IRunConsole, public IPacer, public IRunService {
public:
    explicit Fakes(Script script) : s_(std::move(script)), stopped_(s_.stopAt == 0) {}
    std::string trace;

    bool Load() override { return Call("load"); }
    bool Start() override { return Call("start") && (framesLeft_ = s_.frames.at(starts_++), true); }
    void Submit(const char* text) override { Call("submit[" + std::string(text) + "]"); }
    bool RunFrame() override { return Call("frame") && framesLeft_-- > 0; }
    int Stop() override
    {
        int code = s_.codes.at(starts_ - 1);
        Call("stop=" + std::to_string(code));
        return code;
    }
    void Unload() override { Call("unload"); }
    const char* GetLine() override
    {
        line_ = sleeps_ <= s_.typed.size() ? s_.typed[sleeps_ - 1] : "";
        return line_.empty() ? nullptr : line_.c_str();
    }
    void ShutDown() override { Call("off"); }
    void TakeTerminalAgain() override { Call("on"); }
    void Sleep(int milliseconds) override
    {
        ++sleeps_;
        Call(milliseconds == kPacingMilliseconds ? "sleep" : "sleep=" + std::to_string(milliseconds));
    }
    bool StopRequested() override { return stopped_; }
    const char* NextLine() override
    {
        if (listened_ == s_.listened.size())
            return nullptr;
        return s_.listened[listened_++].c_str();
    }
    void Started() override { Call("started"); }
    void FrameDone() override { Call("done"); }
    void Restarting() override { Call("restarting"); }
    void Stopping() override { Call("stopping"); }

private:
    // False when the script refuses this call.
    bool Call(const std::string& word)
    {
        std::string name = word.substr(0, word.find_first_of("[="));
        int count = ++calls_[name];
        bool refused = name == s_.refused && count == s_.refusedAt;
        trace += (trace.empty() ? "" : " ") + word + (refused ? "!" : "");
        stopped_ = stopped_ || (name == s_.stopDuring && count == s_.stopAt);
        return !refused;
    }

    Script s_;
    std::map<std::string, int> calls_;
    std::string line_;
    size_t sleeps_ = 0;
    size_t listened_ = 0;
    size_t starts_ = 0;
    int framesLeft_ = 0;
    bool stopped_;
};

struct Case {
    const char* name;
    Script script;
    int result;
    std::string trace;
};

const std::string kOneFrame = "sleep frame started done sleep frame";
// The longest line a console or a peer hands over.
const std::string kLongest(254, 'x');

const Case kCases[] = {
    {"QuitAfterTwoFrames", Run({2}, {ENGINE_SHUTDOWN_QUIT}), ENGINE_SHUTDOWN_QUIT,
     "start sleep frame started done sleep frame done sleep frame off stop=3 stopping"},
    {"LinesGoInBeforeTheFrameTypedFirstAndTheLongestWhole", Run({1}, {3}).Lines({"a", kLongest}, {"b", "c"}), 3,
     "start sleep submit[a\n] submit[b\n] submit[c\n] frame started done sleep submit[" +
         std::string(254, 'x') + "\n] frame off stop=3 stopping"},
    {"AnyOtherCodeRestartsWithTheTerminalTakenAgain", Run({1, 1}, {0, 3}), 3,
     "start " + kOneFrame + " off stop=0 restarting on load start " + kOneFrame + " off stop=3 stopping"},
    {"ARefusedFirstStartGivesUp", Run({1}, {3}).Refuse("start", 1), kEngineNotStarted, "start! off"},
    {"AModuleGoneAtRestartGivesUp", Run({1}, {0}).Refuse("load", 1), kEngineNotStarted,
     "start " + kOneFrame + " off stop=0 restarting on load! off"},
    {"ARefusedRestartGivesUp", Run({1, 1}, {0}).Refuse("start", 2), kEngineNotStarted,
     "start " + kOneFrame + " off stop=0 restarting on load start! off"},
    {"StopBeforeTheFirstStart", Run({1}, {3}).StopDuring("", 0), 3, "off unload stopping"},
    {"StopDuringTheStartRunsNoFrame", Run({5}, {0}).StopDuring("start", 1), 3, "start sleep off stop=0 stopping"},
    {"StopDuringTheSleepRunsNoFrame", Run({5}, {0}).StopDuring("sleep", 2), 3,
     "start sleep frame started done sleep off stop=0 stopping"},
    {"StopDuringALineRunsNoFrame", Run({5}, {0}).Lines({"a"}, {}).StopDuring("submit", 1), 3,
     "start sleep submit[a\n] off stop=0 stopping"},
    {"StopDuringAFrameEndsAfterIt", Run({5}, {0}).StopDuring("frame", 2), 3,
     "start sleep frame started done sleep frame done sleep off stop=0 stopping"},
    {"StopDuringTheShutdownOverridesARestart", Run({1}, {0}).StopDuring("stop", 1), 3,
     "start " + kOneFrame + " off stop=0 stopping"},
    {"StopDuringTheReloadStartsNothing", Run({1, 1}, {0}).StopDuring("load", 1), 3,
     "start " + kOneFrame + " off stop=0 restarting on load off unload stopping"},
};

class RunLoopTest : public ::testing::TestWithParam<Case> {};

TEST_P(RunLoopTest, CallsItsPartsInOrder)
{
    Fakes fakes(GetParam().script);
    int result = RunLoop_Run({fakes, fakes, fakes, fakes});
    EXPECT_EQ(fakes.trace, GetParam().trace);
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunLoopTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

}  // namespace
