// The real launcher against broken modules and unusual standard input:
// the documented messages and statuses, and never a crash or a hang.
#include "server_run.h"
#include "skip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

const std::string kCorrupt = "Unable to load engine, image is corrupt.\n";

RunOptions Frames(int count)
{
    RunOptions options;
    options.environment = {{"TARN_TEST_FRAMES", std::to_string(count)}};
    return options;
}

// Runs with this file as the engine module and checks the refusal.
void ExpectEngineRefused(ServerDir& dir, const std::string& reason)
{
    RunResult result = dir.Run({}, Frames(1));
    EXPECT_FALSE(result.timedOut);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.err, "");
    std::string first = "Error:" + dir.File("engine_amd.so") + ": ";
    EXPECT_EQ(result.out.rfind(first, 0), 0u) << result.out;
    EXPECT_NE(result.out.find(reason), std::string::npos) << result.out;
    EXPECT_EQ(result.out.size() - result.out.rfind(kCorrupt), kCorrupt.size()) << result.out;
    EXPECT_TRUE(dir.Log().empty());
}

TEST(BrokenEngineTest, ATruncatedModuleIsRefused)
{
    ServerDir dir("", "test_filesystem");
    std::string whole = ServerDir("test_engine", "").Read("engine_amd.so");
    // Cut inside its header, inside its program headers, and inside the
    // segments the loader maps (which would make the loader itself fault).
    for (size_t size : {size_t{0}, size_t{16}, size_t{64}, size_t{100}, size_t{1000},
                        size_t{4096}, size_t{8192}, size_t{12000}}) {
        dir.Write("engine_amd.so", whole.substr(0, size));
        ExpectEngineRefused(dir, "");
    }
}

TEST(BrokenEngineTest, AModuleOfTheOtherArchitectureIsRefused)
{
    std::string other = std::string(TARN_TEST_MODULE_DIR) + "/other_arch_module.so";
    if (!std::filesystem::exists(other))
        TARN_SKIP("a module of the other architecture", "no toolchain for the other architecture");
    ServerDir dir(other, "test_filesystem");
    ExpectEngineRefused(dir, "wrong ELF class");
}

TEST(BrokenEngineTest, ADirectoryInPlaceOfTheModuleIsRefused)
{
    ServerDir dir("", "test_filesystem");
    std::filesystem::create_directory(dir.File("engine_amd.so"));
    ExpectEngineRefused(dir, "");
}

TEST(UnusualInputTest, WithoutAControllingTerminalTheServerRuns)
{
    ServerDir dir;
    RunOptions options = Frames(20);
    options.newSession = true;
    options.input = "status\n";
    RunResult result = dir.Run({}, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "\nConsole initialized.\nstatus\n");
    EXPECT_EQ(result.err, "");
}

TEST(UnusualInputTest, ATerminalThatIsNotTheControllingOneEchoesOnStandardOutput)
{
    ServerDir dir;
    RunOptions options = Frames(20);
    options.newSession = true;
    options.stdinKind = Stdin::kForeignTerminal;
    RunResult result = dir.Run({}, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Unable to open tty(/dev/tty) for output\n\nConsole initialized.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Matching(dir.Log(), "frame ").size(), 20u);
}

}  // namespace
