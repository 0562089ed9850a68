// The terminal console of the real launcher on a real pseudo-terminal: raw
// mode, the echo of typing and cursor keys, lines reaching the engine, and
// the terminal given back on every way the engine or the process ends.
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

std::string Signaled(int signalNumber)
{
    return "signaled " + std::to_string(signalNumber);
}

TEST(TerminalConsole, HoldsRawModeWhileTheEngineRunsAndGivesItBackAtQuit)
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
    EXPECT_EQ(dir.Read("stderr.txt"), "");
}

TEST(TerminalConsole, EchoesTypingOnTheTerminalAndHandsLinesToTheEngine)
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

// Types the keys one by one or in one burst and returns what the terminal
// showed for them; line receives the engine's log of the line they made.
std::string EchoOfKeys(bool burst, std::string* line)
{
    ServerDir dir;
    PtyJob job(dir, {});
    EXPECT_TRUE(job.WaitRaw());
    job.Type("one" + kEnter);
    job.ReadUntil("one\r\n");
    std::string keys[] = {kUp, kLeftO, kLefto, kUnknownKey, "Z"};
    std::string shown;
    if (burst) {
        job.Type(kUp + kLeftO + kLefto + kUnknownKey + "Z");
        shown = job.ReadFor(300);
    } else {
        for (const std::string& key : keys) {
            job.Type(key);
            shown += job.ReadFor(key == kUnknownKey ? 200 : 100);
        }
    }
    job.Type(kEnter + "quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    std::vector<std::string> submits = Matching(dir.Log(), "submit");
    EXPECT_EQ(submits.size(), 3u);
    *line = submits.size() == 3 ? submits[1] : "<none>";
    return shown;
}

TEST(TerminalConsole, CursorKeysBrowseAndMoveAndUnknownKeysDoNothing)
{
    // Up shows "one"; both left forms step back twice; the delete key's
    // sequence inserts nothing; "Z" goes in before "ne".
    std::string line;
    EXPECT_EQ(EchoOfKeys(false, &line), "one\b\bZne\b\b");
    EXPECT_NE(line.find("text=[oZne\\n]"), std::string::npos) << line;
}

TEST(TerminalConsole, AnUnknownSequenceSwallowsTheRestOfItsBurst)
{
    std::string line;
    EXPECT_EQ(EchoOfKeys(true, &line), "one\b\b");
    EXPECT_NE(line.find("text=[one\\n]"), std::string::npos) << line;
}

TEST(TerminalConsole, TheTerminalComesBackAfterEachEndingSignal)
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
                             SIGABRT}) {
        ServerDir dir;
        PtyJob job(dir, {});
        ASSERT_TRUE(job.WaitRaw()) << signalNumber;
        kill(job.Launcher(), signalNumber);
        EXPECT_EQ(job.NextEvent(), Signaled(signalNumber));
        EXPECT_TRUE(job.WaitRestored(1000)) << signalNumber;
        EXPECT_EQ(dir.Read("stderr.txt"), "");
    }
}

TEST(TerminalConsole, TheTerminalComesBackWhenTheEngineCrashes)
{
    for (int signalNumber : {SIGSEGV, SIGFPE, SIGILL, SIGABRT}) {
        ServerDir dir;
        PtyJob job(dir, {}, {{{"TARN_TEST_CRASH", std::to_string(signalNumber)}}});
        ASSERT_TRUE(job.WaitRaw()) << signalNumber;
        job.Type("crash" + kEnter);
        EXPECT_EQ(job.NextEvent(), Signaled(signalNumber));
        EXPECT_TRUE(job.WaitRestored(1000)) << signalNumber;
    }
}

TEST(TerminalConsole, AnEngineHandlerInstalledLaterIsTheEngines)
{
    ServerDir dir;
    PtyJob job(dir, {}, {{{"TARN_TEST_OWN_SIGTERM", "1"}}});
    ASSERT_TRUE(job.WaitRaw());
    kill(job.Launcher(), SIGTERM);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored(1000));
    EXPECT_EQ(Matching(dir.Log(), "terminate requested").size(), 1u);
}

TEST(TerminalConsole, AnIgnoredHangupStaysIgnored)
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

TEST(TerminalConsole, RawModeReturnsAfterARestartWithoutDoubleEcho)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    job.Type("restart" + kEnter);
    job.ReadUntil("restart\r\n");
    ASSERT_TRUE(job.WaitRaw());
    for (int i = 0; i < 1000 && Matching(dir.Log(), "initialize cycle=2").empty(); ++i)
        usleep(5000);
    ASSERT_TRUE(job.WaitRaw());
    job.Type("ab");
    EXPECT_EQ(job.ReadUntil("ab"), "ab");
    EXPECT_EQ(job.ReadFor(100), "");
    job.Type(kEnter + "quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
    EXPECT_TRUE(job.WaitRestored(1000));
}

TEST(TerminalConsole, StoppingGivesTheTerminalBackAndContinuingTakesItAgain)
{
    ServerDir dir;
    PtyJob job(dir, {});
    ASSERT_TRUE(job.WaitRaw());
    kill(job.Launcher(), SIGTSTP);
    EXPECT_EQ(job.NextEvent(), "stopped");
    EXPECT_TRUE(job.WaitRestored(1000));
    kill(job.Launcher(), SIGCONT);
    EXPECT_EQ(job.NextEvent(), "continued");
    EXPECT_TRUE(job.WaitRaw(2000));
    job.Type("x");
    EXPECT_EQ(job.ReadUntil("x"), "x");
    job.Type(kEnter + "quit" + kEnter);
    EXPECT_EQ(job.NextEvent(), "exited 0");
}

// --- terminals in unusual states ------------------------------------------------

// Frames run on and the console polls at most once per frame.
void ExpectFramesWithOnePollEach(const ServerDir& dir)
{
    ProbedFrame before = LastProbedFrame(dir.Log());
    usleep(300000);
    ProbedFrame after = LastProbedFrame(dir.Log());
    EXPECT_GT(after.frame, before.frame + 20);
    EXPECT_LE(after.polls - before.polls, after.frame - before.frame);
}

PtyOptions Probed()
{
    PtyOptions options;
    options.environment = {{"LD_PRELOAD", TestModule("pacing_probe")}};
    return options;
}

TEST(TerminalConsole, AHungUpTerminalCostsOnePollPerFrame)
{
    ServerDir dir;
    PtyOptions options = Probed();
    options.ignoreHangup = true;
    PtyJob job(dir, {}, options);
    ASSERT_TRUE(job.WaitRaw());
    job.HangUp();
    ExpectFramesWithOnePollEach(dir);
    kill(job.Launcher(), SIGTERM);
    EXPECT_EQ(job.NextEvent(), Signaled(SIGTERM));
}

TEST(TerminalConsole, AJobInTheBackgroundNeitherStopsNorSpins)
{
    ServerDir dir;
    PtyOptions options = Probed();
    options.background = true;
    PtyJob job(dir, {}, options);
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
