// A scripted engine module for the launcher's end-to-end tests.
//
// It logs every call the launcher makes (see test_log.h) and behaves as the
// environment says:
//   TARN_TEST_FRAMES     frames per engine start before RunFrame returns
//                        false (default: until "quit" or "restart" is typed)
//   TARN_TEST_CODES      shutdown code per start, comma-separated; the last
//                        one repeats (default 3)
//   TARN_TEST_INIT_FAIL  starts (1-based, comma-separated) whose Initialize
//                        returns false
//   TARN_TEST_NO_API     the factory answers nothing
//   TARN_TEST_PRINT      text printed through the launcher's exports at start
//   TARN_TEST_UNLINK_ON_SHUTDOWN  removes "engine_amd.so" from the working
//                        directory in Shutdown, so a restart cannot load it
// The start count survives the module's unloading in TARN_TEST_CYCLE.
#include "contract.h"
#include "test_log.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

namespace {

const char* const kEngineId = "XENGINE_TARN_API_VERSION002";
const char* const kExportsId = "XENGINE_DEDICATEDEXPORTS_API_VERSION001";
const char* const kFileSystemId = "XFileSystem009";

// Calls in this image of the module; a fresh load starts again at 0.
int s_imageStarts = 0;
int s_netSleeps = 0;

typedef int (*ProbeReport)(char* out, int size);

int NextCycle()
{
    int cycle = TestEnvInt("TARN_TEST_CYCLE", 0) + 1;
    char text[16];
    std::snprintf(text, sizeof(text), "%d", cycle);
    setenv("TARN_TEST_CYCLE", text, 1);
    return cycle;
}

const char* AlarmDisposition()
{
    struct sigaction current;
    sigaction(SIGALRM, nullptr, &current);
    if (current.sa_handler == SIG_DFL)
        return "default";
    return current.sa_handler == SIG_IGN ? "ignored" : "handler";
}

// The counters of the pacing probe when the launcher runs with it preloaded.
const char* ProbeText(char (&text)[512])
{
    auto report = reinterpret_cast<ProbeReport>(dlsym(RTLD_DEFAULT, "tarn_probe_report"));
    if (!report)
        return "none";
    report(text, sizeof(text));
    return text;
}

void Escape(const char* text, char* out, size_t size)
{
    size_t length = 0;
    for (; *text && length + 3 < size; ++text) {
        if (*text == '\n') {
            out[length++] = '\\';
            out[length++] = 'n';
        } else {
            out[length++] = *text;
        }
    }
    out[length] = '\0';
}

class TestEngine : public TestEngineAPI {
public:
    bool Initialize(const char* base, const char* commandLine, TestFactory launcher,
                    TestFactory filesystem) override
    {
        cycle_ = NextCycle();
        frames_ = 0;
        stopCode_ = -100;
        TestLog("initialize cycle=%d image_starts=%d", cycle_, ++s_imageStarts);
        TestLog("base=%s", base);
        TestLog("cmdline=[%s]", commandLine);
        TestLog("sigalrm=%s", AlarmDisposition());
        CheckLauncherFactory(launcher);
        TestLog("filesystem=%s", filesystem && filesystem(kFileSystemId, nullptr) ? "yes" : "no");
        if (TestEnvListHas("TARN_TEST_INIT_FAIL", cycle_)) {
            TestLog("initialize failed");
            return false;
        }
        return true;
    }

    int Shutdown() override
    {
        int code = stopCode_ != -100 ? stopCode_ : TestEnvListAt("TARN_TEST_CODES", cycle_, 3);
        TestLog("shutdown code=%d", code);
        if (std::getenv("TARN_TEST_UNLINK_ON_SHUTDOWN"))
            unlink("engine_amd.so");
        return code;
    }

    bool RunFrame() override
    {
        char probe[512];
        ++frames_;
        TestLog("frame %d net_sleeps=%d probe=%s", frames_, s_netSleeps, ProbeText(probe));
        if (stopCode_ != -100)
            return false;
        int limit = TestEnvInt("TARN_TEST_FRAMES", 0);
        return limit <= 0 || frames_ < limit;
    }

    void SubmitConsoleText(const char* text) override
    {
        char escaped[1024];
        Escape(text, escaped, sizeof(escaped));
        TestLog("submit before_frame=%d length=%zu text=[%s]", frames_ + 1, std::strlen(text), escaped);
        if (std::strcmp(text, "quit\n") == 0)
            stopCode_ = 3;
        else if (std::strcmp(text, "restart\n") == 0)
            stopCode_ = 0;
        else if (exports_)
            exports_->Sys_Printf(const_cast<char*>(text));
    }

private:
    void CheckLauncherFactory(TestFactory launcher)
    {
        int code = -1;
        TestBaseInterface* first = launcher(kExportsId, &code);
        TestBaseInterface* second = launcher(kExportsId, nullptr);
        TestLog("exports code=%d found=%d same=%d", code, first != nullptr, first == second);
        code = -1;
        TestBaseInterface* unknown = launcher("XENGINE_DEDICATEDEXPORTS_API_VERSION002", &code);
        int caseCode = -1;
        TestBaseInterface* otherCase = launcher("xengine_dedicatedexports_api_version001", &caseCode);
        TestLog("unknown code=%d found=%d case_code=%d case_found=%d", code, unknown != nullptr,
                caseCode, otherCase != nullptr);
        exports_ = static_cast<TestLauncherExports*>(first);
        if (const char* text = std::getenv("TARN_TEST_PRINT"))
            exports_->Sys_Printf(const_cast<char*>(text));
    }

    TestLauncherExports* exports_ = nullptr;
    int cycle_ = 0;
    int frames_ = 0;
    int stopCode_ = -100;
};

TestEngine s_engine;

}  // namespace

#ifndef TEST_ENGINE_NO_FACTORY
extern "C" __attribute__((visibility("default")))
TestBaseInterface* CreateInterface(const char* name, int* returnCode)
{
    bool found = std::strcmp(name, kEngineId) == 0 && !std::getenv("TARN_TEST_NO_API");
    if (returnCode)
        *returnCode = found ? 0 : 1;
    return found ? &s_engine : nullptr;
}
#endif

#ifndef TEST_ENGINE_NO_NET_SLEEP
extern "C" __attribute__((visibility("default")))
int NET_Sleep_Timeout()
{
    ++s_netSleeps;
    // Not usleep: the pacing probe counts those as the launcher's own.
    timespec millisecond{0, 1000000};
    nanosleep(&millisecond, nullptr);
    return 0;
}
#endif
