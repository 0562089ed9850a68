// The reference engine module loaded into this test process, with a
// launcher factory of the test's own: its stop signals, its network sleep,
// its switches and a fresh state at every start.
#include "udp_probe.h"

#include <tarn/dedicated_exports.h>
#include <tarn/engine_api.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

class RecordingExports : public IDedicatedExports {
public:
    void Sys_Printf(const char* text) override { printed += text; }
    std::string printed;
};

RecordingExports s_exports;

IBaseInterface* LauncherFactory(const char* identifier, int* returnCode)
{
    bool found = std::strcmp(identifier, VENGINE_DEDICATEDEXPORTS_API_VERSION) == 0;
    if (returnCode)
        *returnCode = found ? IFACE_OK : IFACE_FAILED;
    return found ? &s_exports : nullptr;
}

volatile std::sig_atomic_t s_formerHandlerCalls = 0;

void FormerHandler(int)
{
    s_formerHandlerCalls = s_formerHandlerCalls + 1;
}

void InstallFormerHandler(int number)
{
    struct sigaction action = {};
    action.sa_handler = FormerHandler;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
}

void (*CurrentHandler(int number))(int)
{
    struct sigaction current = {};
    sigaction(number, nullptr, &current);
    return current.sa_handler;
}

class EngineModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_exports.printed.clear();
        s_formerHandlerCalls = 0;
        InstallFormerHandler(SIGINT);
        InstallFormerHandler(SIGTERM);
        handle_ = dlopen(TARN_REFERENCE_ENGINE, RTLD_NOW);
        ASSERT_NE(handle_, nullptr) << dlerror();
        auto factory = reinterpret_cast<InterfaceFactory>(dlsym(handle_, CREATEINTERFACE_PROCNAME));
        ASSERT_NE(factory, nullptr);
        engine = static_cast<IServerEngineAPI*>(factory(ENGINE_LAUNCHER_API_VERSION, nullptr));
        netSleep = reinterpret_cast<NetSleepFunction>(dlsym(handle_, ENGINE_NET_SLEEP_PROCNAME));
        ASSERT_NE(engine, nullptr);
        ASSERT_NE(netSleep, nullptr);
    }

    void TearDown() override
    {
        Unload();
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
    }

    bool Start(const char* commandLine)
    {
        return engine->Initialize(".", commandLine, LauncherFactory, nullptr);
    }

    void Unload()
    {
        if (handle_)
            dlclose(handle_);
        handle_ = nullptr;
    }

    IServerEngineAPI* engine = nullptr;
    NetSleepFunction netSleep = nullptr;

private:
    void* handle_ = nullptr;
};

TEST_F(EngineModuleTest, AfterShutdownTheStopSignalsGoToTheHandlersFromBefore)
{
    ASSERT_TRUE(Start("-port 0 -lumen"));
    EXPECT_NE(CurrentHandler(SIGTERM), FormerHandler);
    EXPECT_NE(CurrentHandler(SIGINT), FormerHandler);

    raise(SIGTERM);
    EXPECT_EQ(s_formerHandlerCalls, 0);
    EXPECT_FALSE(engine->RunFrame());
    EXPECT_EQ(engine->Shutdown(), ENGINE_SHUTDOWN_QUIT);
    EXPECT_NE(s_exports.printed.find("Stopping on SIGTERM.\nServer stopped.\n"), std::string::npos)
        << s_exports.printed;
    // The stop the engine took is handed on once, after Shutdown.
    EXPECT_EQ(s_formerHandlerCalls, 1);

    EXPECT_EQ(CurrentHandler(SIGTERM), FormerHandler);
    EXPECT_EQ(CurrentHandler(SIGINT), FormerHandler);
    Unload();
    raise(SIGTERM);
    raise(SIGINT);
    EXPECT_EQ(s_formerHandlerCalls, 3);
}

TEST_F(EngineModuleTest, ASecondStopSignalGoesToTheFormerHandler)
{
    ASSERT_TRUE(Start("-port 0"));
    raise(SIGINT);
    EXPECT_EQ(s_formerHandlerCalls, 0);
    raise(SIGINT);
    EXPECT_EQ(s_formerHandlerCalls, 1);
    EXPECT_FALSE(engine->RunFrame());
    EXPECT_EQ(engine->Shutdown(), ENGINE_SHUTDOWN_QUIT);
    EXPECT_EQ(CurrentHandler(SIGINT), FormerHandler);
}

TEST_F(EngineModuleTest, AFailedStartLeavesTheSignalHandlersAlone)
{
    EXPECT_FALSE(Start("-port 65536"));
    EXPECT_EQ(CurrentHandler(SIGTERM), FormerHandler);
    EXPECT_EQ(CurrentHandler(SIGINT), FormerHandler);
    EXPECT_NE(s_exports.printed.find("-port needs a number from 0 to 65535, not \"65536\".\n"),
              std::string::npos)
        << s_exports.printed;
}

TEST_F(EngineModuleTest, WithoutThePrintServiceTheEngineDoesNotStart)
{
    auto noExports = [](const char*, int* code) -> IBaseInterface* {
        if (code)
            *code = IFACE_FAILED;
        return nullptr;
    };
    EXPECT_FALSE(engine->Initialize(".", "-port 0", noExports, nullptr));
    EXPECT_EQ(CurrentHandler(SIGTERM), FormerHandler);
}

TEST_F(EngineModuleTest, TheNetworkSleepReturnsOneWhileADatagramWaits)
{
    ASSERT_TRUE(Start("-port 0"));
    int port = ListeningPort(s_exports.printed);
    ASSERT_GT(port, 0) << s_exports.printed;
    EXPECT_EQ(netSleep(), 0);

    UdpProbe probe;
    probe.SendTo(port, QueryDatagram(kQueryPing, "wait"));
    int result = 0;
    for (int tries = 0; tries < 10000 && result == 0; ++tries)
        result = netSleep();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(netSleep(), 1) << "the wait must leave the datagram for the frame";
    EXPECT_TRUE(engine->RunFrame());
    EXPECT_EQ(probe.Receive(), QueryDatagram(kQueryPing | kQueryReply, "wait"));
    engine->SubmitConsoleText("quit\n");
    EXPECT_FALSE(engine->RunFrame());
    engine->Shutdown();
}

TEST_F(EngineModuleTest, EveryStartBeginsFromAFreshStateInTheSameImage)
{
    ASSERT_TRUE(Start("-port 0"));
    engine->RunFrame();
    engine->SubmitConsoleText("quit\n");
    EXPECT_FALSE(engine->RunFrame());
    EXPECT_EQ(engine->Shutdown(), ENGINE_SHUTDOWN_QUIT);

    ASSERT_TRUE(Start("-port 0"));
    EXPECT_TRUE(engine->RunFrame());
    s_exports.printed.clear();
    engine->SubmitConsoleText("status\n");
    EXPECT_NE(s_exports.printed.find("frames    1\n"), std::string::npos) << s_exports.printed;
    engine->SubmitConsoleText("restart\n");
    EXPECT_FALSE(engine->RunFrame());
    EXPECT_EQ(engine->Shutdown(), ENGINE_SHUTDOWN_RESTART);
}

TEST_F(EngineModuleTest, SwitchesAreWholeWordsAndTheFirstOfEachCounts)
{
    ASSERT_TRUE(Start("-portal 7 -ipx 1.2.3.4 -port 0 -port 1"));
    int port = ListeningPort(s_exports.printed);
    EXPECT_GT(port, 1) << s_exports.printed;
    EXPECT_NE(s_exports.printed.find("Listening on 127.0.0.1:"), std::string::npos);
    engine->Shutdown();
}

TEST_F(EngineModuleTest, ValuesThatAreNotAPortOrAnAddressAreRefused)
{
    const std::pair<const char*, const char*> cases[] = {
        {"-port", "-port needs a number from 0 to 65535.\n"},
        {"-port -1", "-port needs a number from 0 to 65535.\n"},
        {"-port +80", "-port needs a number from 0 to 65535, not \"+80\".\n"},
        {"-port 99999999999999999999", "not \"99999999999999999999\""},
        {"-ip ::1 -port 0", "-ip needs an IPv4 address such as 127.0.0.1, not \"::1\".\n"},
        {"-ip 127.0.0 -port 0", "not \"127.0.0\""},
    };
    for (const auto& [commandLine, message] : cases) {
        s_exports.printed.clear();
        EXPECT_FALSE(Start(commandLine)) << commandLine;
        EXPECT_NE(s_exports.printed.find(message), std::string::npos) << s_exports.printed;
    }
}

}  // namespace
