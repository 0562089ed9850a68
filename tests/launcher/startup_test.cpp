// Startup and teardown of the real launcher: the order of main's steps, its
// messages and exit statuses, the pidfile and the command line the engine
// receives.
#include "server_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

const std::string kConsoleBanner = "\nConsole initialized.\n";

std::string MissingModule(const ServerDir& dir, const std::string& name)
{
    return "Error:" + dir.Path() + "/" + name +
           ": cannot open shared object file: No such file or directory\n";
}

// One frame per engine start, with more settings for the test modules.
RunOptions OneFrame(const std::vector<std::pair<std::string, std::string>>& more = {})
{
    RunOptions options;
    options.environment = {{"TARN_TEST_FRAMES", "1"}};
    options.environment.insert(options.environment.end(), more.begin(), more.end());
    return options;
}

// Runs one frame's worth, expecting a refusal with status 255 before any
// module was started; what it printed.
std::string RefusalOutput(const ServerDir& dir, const RunOptions& options = OneFrame())
{
    RunResult result = dir.Run({}, options);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(dir.Log().empty());
    return result.out;
}

TEST(StartupTest, RunsTheEngineBetweenActivationAndDeactivationOfTheFileSystem)
{
    ServerDir dir;
    RunResult result = dir.Run({}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(result.out, kConsoleBanner);
    std::vector<std::string> log = dir.Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.front(), "filesystem activate");
    EXPECT_EQ(log[1], "initialize cycle=1 image_starts=1");
    EXPECT_EQ(log[log.size() - 2], "shutdown code=3");
    EXPECT_EQ(log.back(), "filesystem deactivate");
    EXPECT_EQ(First(log, "base="), "base=.");
    EXPECT_EQ(First(log, "filesystem="), "filesystem=yes");
    // Sleeps may end at most 1 ns late: pacing asks the kernel for that.
    EXPECT_EQ(First(log, "timerslack="), "timerslack=1");
}

TEST(StartupTest, ArgumentsFillingTheLineExactlyAreAccepted)
{
    ServerDir dir;
    // Each argument counts its length plus one: 2 * 1024 = 2048.
    std::string a(1023, 'a'), b(1023, 'b');
    RunResult result = dir.Run({a, b}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(First(dir.Log(), "cmdline="), "cmdline=[" + a + " " + b + " -lumen]");
}

TEST(StartupTest, ArgumentsOneCharacterTooLongAreRefusedBeforeAnyModuleLoads)
{
    ServerDir dir;
    std::string a(1023, 'a'), b(1024, 'b');
    RunResult result = dir.Run({"-pidfile", "pid.txt", a, b}, OneFrame());
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "command line too long, 2048 max\n");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(dir.Log().empty());
    EXPECT_FALSE(dir.Exists("pid.txt"));
}

TEST(StartupTest, AMissingEngineEndsWith255BeforeThePidfileAndTheFileSystem)
{
    ServerDir dir("", "test_filesystem");
    RunResult result = dir.Run({"-pidfile", "pid.txt"}, OneFrame());
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, MissingModule(dir, "engine_amd.so") +
                              "Unable to load engine, image is corrupt.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(dir.Exists("pid.txt"));
    EXPECT_TRUE(dir.Log().empty());
}

TEST(StartupTest, AnEngineThatIsNoSharedObjectIsRefused)
{
    ServerDir dir("", "test_filesystem");
    dir.Write("engine_amd.so", "#!/bin/sh\necho not a module\n");
    RunResult result = dir.Run({}, OneFrame());
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out.rfind("Error:" + dir.File("engine_amd.so") + ": ", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\nUnable to load engine, image is corrupt.\n"), std::string::npos);
}

TEST(StartupTest, AMissingFileSystemModuleEndsWith255)
{
    ServerDir dir("test_engine", "");
    EXPECT_EQ(RefusalOutput(dir), MissingModule(dir, "filesystem_stdio_i386.so"));
}

TEST(StartupTest, AFileSystemModuleWithoutFactoryEndsWith255Silently)
{
    ServerDir dir("test_engine", "test_filesystem_nofactory");
    EXPECT_EQ(RefusalOutput(dir), "");
}

TEST(StartupTest, AFileSystemFactoryWithoutTheInterfaceEndsWith255Silently)
{
    ServerDir dir;
    EXPECT_EQ(RefusalOutput(dir, OneFrame({{"TARN_TEST_FS_NO_API", "1"}})), "");
}

TEST(StartupTest, AnEngineThatDoesNotStartEndsWith255)
{
    ServerDir dir;
    RunResult result = dir.Run({}, OneFrame({{"TARN_TEST_INIT_FAIL", "1"}}));
    ExpectFailedStart(result);
    std::vector<std::string> log = dir.Log();
    EXPECT_TRUE(Matching(log, "frame").empty());
    EXPECT_TRUE(Matching(log, "shutdown").empty());
    EXPECT_EQ(Last(log), "filesystem deactivate");
}

TEST(StartupTest, AnEngineWithoutItsInterfaceRunsNoFrameAndEndsWith255)
{
    for (const char* variant : {"test_engine", "test_engine_nofactory"}) {
        ServerDir dir(variant);
        RunResult result = dir.Run({}, OneFrame({{"TARN_TEST_NO_API", "1"}}));
        ExpectFailedStart(result);
        EXPECT_EQ(dir.Log(), (std::vector<std::string>{"filesystem activate", "filesystem deactivate"}))
            << variant;
    }
}

// --- the command line the engine receives -------------------------------

std::string EngineCommandLine(const std::vector<std::string>& arguments,
                              const std::string& parameterFile = "")
{
    ServerDir dir;
    if (!parameterFile.empty())
        dir.Write("params.txt", parameterFile);
    ExpectCleanEnd(dir.Run(arguments, OneFrame()));
    return First(dir.Log(), "cmdline=");
}

TEST(EngineCommandLineTest, IsTheArgumentsJoinedWithLumenAppended)
{
    EXPECT_EQ(EngineCommandLine({"+exec", "server.cfg", "-port", "30100"}),
              "cmdline=[+exec server.cfg -port 30100 -lumen]");
    EXPECT_EQ(EngineCommandLine({}), "cmdline=[ -lumen]");
}

TEST(EngineCommandLineTest, KeepsNoQuotesAndLeavesEmptyArgumentsAsDoubleSpaces)
{
    EXPECT_EQ(EngineCommandLine({"-banner", "my \"best\" server", "", "-x"}),
              "cmdline=[-banner my \"best\" server  -x -lumen]");
}

TEST(EngineCommandLineTest, ExpandsParameterFiles)
{
    EXPECT_EQ(EngineCommandLine({"-x", "1", "@params.txt", "-y", "2"}, "-f 3\n-g 4\n"),
              "cmdline=[-x 1 -f 3 -g 4  -y 2 -lumen]");
}

TEST(EngineCommandLineTest, ReportsAMissingParameterFileAndGoesOn)
{
    ServerDir dir;
    RunResult result = dir.Run({"-x", "@nothere.cfg", "-y"}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(result.out, "Parameter file 'nothere.cfg' not found, skipping..." + kConsoleBanner);
    EXPECT_EQ(First(dir.Log(), "cmdline="), "cmdline=[-x -y -lumen]");
}

TEST(EngineCommandLineTest, ALumenGivenByTheOperatorMovesToTheEnd)
{
    EXPECT_EQ(EngineCommandLine({"-lumen", "-a", "1"}), "cmdline=[-a 1 -lumen]");
}

// --- pidfile -----------------------------------------------------------------

TEST(PidfileTest, HoldsTheProcessIdAndANewline)
{
    ServerDir dir;
    dir.Write("server.pid", "stale contents that are longer\n");
    RunResult result = dir.Run({"-pidfile", "server.pid"}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(dir.Read("server.pid"), std::to_string(result.pid) + "\n");
}

TEST(PidfileTest, AsTheLastArgumentTakesLumenAsItsName)
{
    ServerDir dir;
    RunResult result = dir.Run({"-port", "1", "-pidfile"}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(dir.Read("-lumen"), std::to_string(result.pid) + "\n");
}

TEST(PidfileTest, InAMissingDirectoryWarnsAndStartupGoesOn)
{
    ServerDir dir;
    RunResult result = dir.Run({"-pidfile", "no/such/dir/x.pid"}, OneFrame());
    ExpectCleanEnd(result);
    EXPECT_EQ(result.out, "Warning: unable to open pidfile (no/such/dir/x.pid)\n" + kConsoleBanner);
    EXPECT_EQ(Matching(dir.Log(), "shutdown").size(), 1u);
}

// CheckParm keeps 127 characters: a cut value would name another file.
TEST(SwitchValuesTest, AreUsedWholeOrNotAtAll)
{
    for (std::string name : {"-pidfile", "-pingboost"}) {
        for (size_t length : {127, 128, 200}) {
            ServerDir dir;
            bool pidfile = name == "-pidfile";
            std::string value = pidfile ? std::string(length, 'p') : "3" + std::string(length - 1, 'x');
            dir.Write(value.substr(0, 127), "kept\n");
            RunResult result = dir.Run({name, value}, OneFrame());
            bool used = pidfile ? dir.Read(value.substr(0, 127)) != "kept\n"
                                : Contains(First(dir.Log(), "frame 1 "), "net_sleeps=1");
            std::string warning = pidfile && length > 127 ? "Warning: unable to open pidfile (" + value + ")\n" : "";
            EXPECT_EQ(used, length == 127) << name << " " << length;
            EXPECT_EQ(result.out, warning + kConsoleBanner) << name << " " << length;
        }
    }
}

// --- the launcher's exports ---------------------------------------------

TEST(ExportsTest, AreServedByTheLaunchersFactory)
{
    ServerDir dir;
    dir.Run({}, OneFrame());
    std::vector<std::string> log = dir.Log();
    EXPECT_EQ(First(log, "exports"), "exports code=0 found=1 same=1");
    EXPECT_EQ(First(log, "unknown"), "unknown code=1 found=0 case_code=1 case_found=0");
}

TEST(ExportsTest, PrintTheEnginesTextLiterallyAndFlushed)
{
    ServerDir dir;
    RunResult result = dir.Run({}, OneFrame({{"TARN_TEST_PRINT", "100% sure: %s %d %n\n"}}));
    ExpectCleanEnd(result);
    EXPECT_EQ(result.out, kConsoleBanner + "100% sure: %s %d %n\n");
}

TEST(ExportsTest, CutALongTextAt1023Characters)
{
    ServerDir dir;
    std::string text;
    for (int i = 0; text.size() < 2000; ++i)
        text += std::to_string(i % 10);
    RunResult result = dir.Run({}, OneFrame({{"TARN_TEST_PRINT", text}}));
    EXPECT_EQ(result.out, kConsoleBanner + text.substr(0, 1023));
}

TEST(ExportsTest, LauncherFactoryIsNotInTheDynamicSymbolTable)
{
    std::string command = std::string("nm -D '") + TARN_LAUNCHER_PATH + "' 2>&1";
    FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::string symbols;
    for (int c = std::fgetc(nm); c != EOF; c = std::fgetc(nm))
        symbols += static_cast<char>(c);
    ASSERT_EQ(pclose(nm), 0) << symbols;
    EXPECT_NE(symbols.find("dlopen"), std::string::npos) << symbols;
    EXPECT_EQ(symbols.find("CreateInterface"), std::string::npos) << symbols;
}

}  // namespace
