// A module built from the SDK alone, driven through the test modules' own
// spelling of the binary contract: identifiers, C-linkage names and the
// operation behind every virtual slot must agree.
#include "contract.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>

namespace {

class CapturingExports : public TestLauncherExports {
public:
    void Sys_Printf(char* text) override { printed += text; }
    std::string printed;
};

CapturingExports s_exports;

TestBaseInterface* LauncherFactory(const char* name, int* returnCode)
{
    bool found = std::string(name) == "XENGINE_DEDICATEDEXPORTS_API_VERSION001";
    if (returnCode)
        *returnCode = found ? 0 : 1;
    return found ? &s_exports : nullptr;
}

class SdkModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle_ = dlopen(TARN_SDK_MODULE, RTLD_NOW);
        ASSERT_NE(handle_, nullptr) << dlerror();
        factory = reinterpret_cast<TestFactory>(dlsym(handle_, "CreateInterface"));
        calls = reinterpret_cast<const char* (*)()>(dlsym(handle_, "SdkProbe_Calls"));
        auto reset = reinterpret_cast<void (*)()>(dlsym(handle_, "SdkProbe_Reset"));
        ASSERT_NE(factory, nullptr);
        ASSERT_NE(calls, nullptr);
        ASSERT_NE(reset, nullptr);
        reset();
    }

    void* Symbol(const char* name) { return dlsym(handle_, name); }

    void TearDown() override
    {
        if (handle_)
            dlclose(handle_);
    }

    TestFactory factory = nullptr;
    const char* (*calls)() = nullptr;

private:
    void* handle_ = nullptr;
};

TEST_F(SdkModuleTest, EngineSlotsReachTheOperationsTheLauncherCalls)
{
    int code = -1;
    auto* engine = static_cast<TestEngineAPI*>(factory("XENGINE_TARN_API_VERSION002", &code));
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(code, 0);

    EXPECT_TRUE(engine->Initialize(".", "-port 1 -lumen", LauncherFactory, factory));
    EXPECT_EQ(s_exports.printed, "-port 1 -lumen");
    engine->SubmitConsoleText("status\n");
    EXPECT_FALSE(engine->RunFrame());
    EXPECT_EQ(engine->Shutdown(), 3);
    EXPECT_EQ(std::string(calls()), "Initialize;.;SubmitConsoleText;status\n;RunFrame;Shutdown;");
}

TEST_F(SdkModuleTest, FileSystemSlotsAndTheNetworkSleepExportMatch)
{
    int code = -1;
    auto* fileSystem = static_cast<TestFileSystem*>(factory("XFileSystem009", &code));
    ASSERT_NE(fileSystem, nullptr);
    EXPECT_EQ(code, 0);
    fileSystem->Activate();
    fileSystem->Deactivate();

    auto netSleep = reinterpret_cast<int (*)()>(Symbol("NET_Sleep_Timeout"));
    ASSERT_NE(netSleep, nullptr);
    EXPECT_EQ(netSleep(), 7);
    EXPECT_EQ(std::string(calls()), "Activate;Deactivate;NET_Sleep_Timeout;");
}

TEST_F(SdkModuleTest, UnknownIdentifiersGetNothingAndCodeOne)
{
    int code = -1;
    EXPECT_EQ(factory("XENGINE_TARN_API_VERSION001", &code), nullptr);
    EXPECT_EQ(code, 1);
}

}  // namespace
