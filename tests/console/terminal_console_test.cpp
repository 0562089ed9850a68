// The terminal console of the real launcher on a real pseudo-terminal: raw
// mode, the echo of typing and cursor keys, lines reaching the engine, and
// the terminal given back on every way the engine or the process ends.
#include "monotonic.h"
#include "pty_job.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

const std::string kUp = "\x1b[A";
const std::string kLeftO = "\x1bOD";
const std::string kLefto = "\x1boD";
const std::string kUnknownKey = "\x1b[3~";  // the delete key of many terminals
const std::string kEnter = "\r";            // the driver maps it to "\n"

const std::string kQuitEcho = "\r\nquit\r\n";  // of Enter, "quit" and Enter

std::string Signaled(int signalNumber)
{
    return "signaled " + std::to_string(signalNumber);
}

enum class Job { kForeground, kHangupIgnored, kBackground };

// The pacing probe preloaded: the engine's frame entries carry its counters.
PtyOptions Probed(Job job = Job::kForeground)
{
    PtyOptions options;
    options.environment = PreloadOf("pacing_probe");
    options.ignoreHangup = job == Job::kHangupIgnored;
    options.background = job == Job::kBackground;
    return options;
}

// Waits until the launcher has read bytes bytes of typing in all.
bool WaitUntilRead(const ServerDir& dir, long bytes)
{
    return WaitUntil([&] { return LastProbedFrame(dir.Log()).stdinBytes >= bytes; }, 10000);
}

// Ends the line being typed and quits; what the terminal showed since the
// last read, up to the echo of the quit.
std::string QuitAndReadEcho(PtyJob& job)
{
    job.Type(kEnter + "quit" + kEnter);
    std::string shown = job.ReadUntil(kQuitEcho);
    if (shown.size() >= kQuitEcho.size() &&
        shown.compare(shown.size() - kQuitEcho.size(), kQuitEcho.size(), kQuitEcho) == 0)
        shown.erase(shown.size() - kQuitEcho.size());
    else
        shown += "<no quit>";
    return shown;
}

TEST(TerminalConsoleTest, HoldsRawModeWhileTheEngineRunsAndGivesItBackAtQuit)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    termios raw = job.Settings();
    EXPECT_TRUE(raw.c_lflag & ISIG);
    EXPECT_TRUE(raw.c_iflag & ICRNL);
    job.Type("quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored(1000));
    EXPECT_EQ(dir.Read("stdout.txt"), "\nConsole initialized.\n");
    EXPECT_EQ(dir.Errors(), "");
}

TEST(TerminalConsoleTest, EchoesTypingOnTheTerminalAndHandsLinesToTheEngine)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    job.Type("ac");
    EXPECT_EQ(job.ReadUntil("ac"), "ac");
    job.Type("\x1b[D");
    EXPECT_EQ(job.ReadUntil("\b"), "\b");
    job.Type("b");
    EXPECT_EQ(job.ReadUntil("bc\b"), "bc\b");
    job.Type(kEnter);
    EXPECT_EQ(job.ReadUntil("\r\n"), "\r\n");
    job.Type("quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    std::vector<std::string> submits = Matching(dir.Log(), "submit");
    ASSERT_EQ(submits.size(), 2u);
    EXPECT_NE(submits[0].find("text=[abc\\n]"), std::string::npos);
    EXPECT_NE(submits[1].find("text=[quit\\n]"), std::string::npos);
}

// Types the keys one by one (each read by the launcher before the next is
// typed) or in one burst and returns what the terminal showed for them; line
// receives the engine's log of the line they made.
std::string EchoOfKeys(bool burst, std::string* line)
{
    ServerDir dir;
    PtyJob job(dir, {}, Probed());
    EXPECT_TRUE(job.WaitRaw());
    std::string first = "one" + kEnter;
    job.Type(first);
    job.ReadUntil("one\r\n");
    const std::string keys[] = {kUp, kLeftO, kLefto, kUnknownKey, "Z"};
    long typed = static_cast<long>(first.size());
    if (burst) {
        std::string all = kUp + kLeftO + kLefto + kUnknownKey + "Z";
        job.Type(all);
        typed += static_cast<long>(all.size());
        EXPECT_TRUE(WaitUntilRead(dir, typed)) << typed;
    } else {
        for (const std::string& key : keys) {
            job.Type(key);
            typed += static_cast<long>(key.size());
            EXPECT_TRUE(WaitUntilRead(dir, typed)) << typed;
        }
    }
    std::string shown = QuitAndReadEcho(job);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    std::vector<std::string> submits = Matching(dir.Log(), "submit");
    EXPECT_EQ(submits.size(), 3u);
    *line = submits.size() == 3 ? submits[1] : "<none>";
    return shown;
}

TEST(TerminalConsoleTest, CursorKeysBrowseAndMoveAndUnknownKeysDoNothing)
{
    // Up shows "one"; both left forms step back twice; the delete key's
    // sequence inserts nothing; "Z" goes in before "ne".
    std::string line;
    EXPECT_EQ(EchoOfKeys(false, &line), "one\b\bZne\b\b");
    EXPECT_NE(line.find("text=[oZne\\n]"), std::string::npos) << line;
}

TEST(TerminalConsoleTest, AnUnknownSequenceSwallowsTheRestOfItsBurst)
{
    std::string line;
    EXPECT_EQ(EchoOfKeys(true, &line), "one\b\b");
    EXPECT_NE(line.find("text=[one\\n]"), std::string::npos) << line;
}

TEST(TerminalConsoleTest, TheTerminalComesBackAfterEachEndingSignal)
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
                             SIGABRT}) {
        ServerDir dir;
        PtyJob job(dir, {});
        ASSERT_TRUE(job.WaitRaw()) << signalNumber;
        kill(job.Launcher(), signalNumber);
        EXPECT_EQ(job.NextEvent(), Signaled(signalNumber));
        EXPECT_TRUE(job.WaitRestored(1000)) << signalNumber;
        EXPECT_EQ(dir.Errors(), "");
    }
}

TEST(TerminalConsoleTest, TheTerminalComesBackWhenTheEngineCrashes)
{
    // 0: a recursion without bound, whose SIGSEGV finds no stack left.
    for (int crash : {SIGSEGV, SIGFPE, SIGILL, SIGABRT, 0}) {
        ServerDir dir;
        PtyJob job(dir, {}, {{{"TARN_TEST_CRASH", std::to_string(crash)}}});
        ASSERT_TRUE(job.WaitRaw()) << crash;
        job.Type("crash" + kEnter);
        EXPECT_EQ(job.NextEvent(), Signaled(crash ? crash : SIGSEGV));
        EXPECT_TRUE(job.WaitRestored(1000)) << crash;
    }
}

TEST(TerminalConsoleTest, AnEngineHandlerInstalledLaterIsTheEngines)
{
    ServerDir dir;
    PtyJob job(dir, {}, {{{"TARN_TEST_OWN_SIGTERM", "1"}}});
    ASSERT_TRUE(job.WaitRaw());
    ASSERT_TRUE(dir.WaitForLog("own sigterm handler installed"));
    kill(job.Launcher(), SIGTERM);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored(1000));
    EXPECT_EQ(Matching(dir.Log(), "terminate requested").size(), 1u);
}

TEST(TerminalConsoleTest, AnIgnoredHangupStaysIgnored)
{
    ServerDir dir;
    PtyOptions options;
    options.ignoreHangup = true;
    PtyJob job(dir, {}, options);
    ASSERT_TRUE(job.WaitRaw());
    kill(job.Launcher(), SIGHUP);
    EXPECT_EQ(job.NextEvent(300), "");
    job.Type("quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

TEST(TerminalConsoleTest, RawModeReturnsAfterARestartWithoutDoubleEcho)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    job.Type("restart" + kEnter);
    job.ReadUntil("restart\r\n");
    ASSERT_TRUE(dir.WaitForLog("initialize cycle=2"));
    ASSERT_TRUE(job.WaitRaw());
    // Typed into a terminal left in line mode, the keys would show twice.
    job.Type("ab");
    EXPECT_EQ(QuitAndReadEcho(job), "ab");
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored(1000));
}

TEST(TerminalConsoleTest, StoppingGivesTheTerminalBackAndContinuingTakesItAgain)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    kill(job.Launcher(), SIGTSTP);
    EXPECT_EQ(job.NextEvent(), "stopped");
    EXPECT_TRUE(job.WaitRestored(1000));
    kill(job.Launcher(), SIGCONT);
    EXPECT_EQ(job.NextEvent(), "continued");
    EXPECT_TRUE(job.WaitRaw());
    job.Type("x");
    EXPECT_EQ(job.ReadUntil("x"), "x");
    job.Type(kEnter + "quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

// --- terminals in unusual states ------------------------------------------------

// Frames run on, and meanwhile the console polls at most once per frame.
void ExpectFramesWithOnePollEach(const ServerDir& dir)
{
    ProbedFrame before = LastProbedFrame(dir.Log());
    ProbedFrame after;
    EXPECT_TRUE(WaitUntil([&] {
        after = LastProbedFrame(dir.Log());
        return after.frame >= before.frame + 50;
    }, 10000)) << after.frame;
    EXPECT_LE(after.polls - before.polls, after.frame - before.frame);
}

TEST(TerminalConsoleTest, AHungUpTerminalCostsOnePollPerFrame)
{
    ServerDir dir;
    PtyJob job(dir, {}, Probed(Job::kHangupIgnored));
    ASSERT_TRUE(job.WaitRaw());
    job.HangUp();
    ExpectFramesWithOnePollEach(dir);
    kill(job.Launcher(), SIGTERM);
    EXPECT_EQ(job.NextEvent(), Signaled(SIGTERM));
}

TEST(TerminalConsoleTest, AJobInTheBackgroundNeitherStopsNorSpins)
{
    ServerDir dir;
    PtyJob job(dir, {}, Probed(Job::kBackground));
    ASSERT_TRUE(job.WaitRaw());
    ExpectFramesWithOnePollEach(dir);
    // Typing is for the foreground job; the launcher cannot read it.
    job.Type("status" + kEnter);
    ExpectFramesWithOnePollEach(dir);
    EXPECT_EQ(job.NextEvent(100), "");
    EXPECT_TRUE(Matching(dir.Log(), "submit").empty());
    kill(job.Launcher(), SIGTERM);
    EXPECT_EQ(job.NextEvent(), Signaled(SIGTERM));
    EXPECT_TRUE(job.WaitRestored(1000));
}

}  // namespace
