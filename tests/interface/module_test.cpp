// Loading real modules built by this build, from real directories.
#include "interface/module.h"

#include "stdout_capture.h"
#include "temp_workdir.h"

#include <tarn/engine_api.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kModuleDir = TARN_TEST_MODULE_DIR;

std::string Module(const std::string& name)
{
    return kModuleDir + "/" + name + ".so";
}

std::string MissingMessage(const std::string& path)
{
    return "Error:" + path + ": cannot open shared object file: No such file or directory\n";
}

class ModuleTest : public TempWorkdir {
protected:
    // Loads name and keeps what was printed.
    CSysModule* Load(const std::string& name)
    {
        StdoutCapture capture;
        CSysModule* module = Sys_LoadModule(name.c_str());
        printed = capture.Text();
        if (module)
            loaded.push_back(module);
        return module;
    }

    void TearDown() override
    {
        for (CSysModule* module : loaded)
            Sys_UnloadModule(module);
        TempWorkdir::TearDown();
    }

    std::string printed;
    std::vector<CSysModule*> loaded;
};

TEST_F(ModuleTest, LoadsAnAbsolutePathUnchanged)
{
    CSysModule* module = Load(Module("test_engine"));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(printed, "");
    EXPECT_NE(Sys_GetFactory(module), nullptr);
}

TEST_F(ModuleTest, TakesOtherNamesRelativeToTheCurrentDirectory)
{
    fs::create_directory("sub");
    fs::copy_file(Module("test_engine"), "engine_amd.so");
    fs::copy_file(Module("test_filesystem"), "sub/fs.so");
    EXPECT_NE(Load("engine_amd.so"), nullptr);
    EXPECT_NE(Load("sub/fs.so"), nullptr);
    EXPECT_EQ(printed, "");
}

TEST_F(ModuleTest, NeverSearchesTheLoadersPath)
{
    // libc is on every search path, but not in this directory.
    EXPECT_EQ(Load("libc.so.6"), nullptr);
    EXPECT_EQ(printed, MissingMessage(fs::current_path().string() + "/libc.so.6"));
}

TEST_F(ModuleTest, TheRootDirectoryGivesASingleSlash)
{
    std::string relative = fs::current_path().relative_path().string() + "/fs.so";
    fs::copy_file(Module("test_filesystem"), "fs.so");
    fs::current_path("/");
    EXPECT_NE(Load(relative), nullptr);
    EXPECT_EQ(Load("no-such-module.so"), nullptr);
    EXPECT_EQ(printed, MissingMessage("/no-such-module.so"));
}

TEST_F(ModuleTest, AMissingModuleIsReportedOnceAndTriedWithSoAppended)
{
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed, MissingMessage(fs::current_path().string() + "/engine_amd.so"));

    // The second attempt finds "engine_amd.so.so"; the first still reported.
    fs::copy_file(Module("test_engine"), "engine_amd.so.so");
    EXPECT_NE(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed, MissingMessage(fs::current_path().string() + "/engine_amd.so"));
}

TEST_F(ModuleTest, AFileThatIsNoModuleIsRefused)
{
    WriteFile("engine_amd.so", "not a shared object\n");
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed.rfind("Error:" + fs::current_path().string() + "/engine_amd.so: ", 0), 0u)
        << printed;
}

TEST_F(ModuleTest, AModuleCutShortIsRefusedBeforeTheLoaderMapsIt)
{
    // Cut inside its loadable segments: mapping it would fault in the loader.
    std::string whole = ReadFile(Module("test_engine"));
    WriteFile("engine_amd.so", whole.substr(0, 4096));
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed, "Error:" + fs::current_path().string() +
                           "/engine_amd.so: file too short for its loadable segments\n");

    // The same cut module as the second attempt is refused silently.
    fs::rename("engine_amd.so", "engine_amd.so.so");
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed, MissingMessage(fs::current_path().string() + "/engine_amd.so"));
}

TEST_F(ModuleTest, AnUnreadableCurrentDirectoryGivesNullWithAReason)
{
    fs::path gone = fs::current_path() / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed.rfind("Error:", 0), 0u);
    EXPECT_NE(printed.find("No such file or directory"), std::string::npos) << printed;
}

TEST_F(ModuleTest, ADirectoryTooDeepForTheBufferGivesNull)
{
    std::string part(200, 'd');
    for (int i = 0; i < 6; ++i) {
        fs::create_directory(part);
        fs::current_path(part);
    }
    EXPECT_EQ(Load("engine_amd.so"), nullptr);
    EXPECT_EQ(printed.rfind("Error:", 0), 0u) << printed;
}

// Never cut to a prefix that names a file planted elsewhere.
TEST_F(ModuleTest, APathIsLoadedWholeOrNotAtAll)
{
    struct Row { size_t directory; bool absolute; size_t plantedAt; bool loads; };
    fs::path root = fs::current_path();
    auto enter = [](const fs::path& directory) { fs::create_directory(directory); fs::current_path(directory); };
    int index = 0;
    for (Row row : {Row{1015, false, 511, false}, Row{1015, false, 1023, false}, Row{1015, true, 511, false},
                    Row{1009, false, 1023, true}, Row{494, false, 511, true}}) {
        enter(root / std::to_string(++index));
        for (size_t left; (left = row.directory - fs::current_path().string().size()) > 0;)
            enter(std::string(left <= 201 ? left - 1 : 150, 'd'));
        std::string first = fs::current_path().string() + "/engine_amd.so";
        fs::copy_file(Module("test_engine"), (first + ".so").substr(0, row.plantedAt));
        EXPECT_EQ(Load(row.absolute ? first : "engine_amd.so") != nullptr, row.loads) << "row " << index;
        EXPECT_EQ(printed == "Error:" + first + ": path longer than 1023 characters\n", !row.loads) << printed;
    }
}

TEST_F(ModuleTest, FactoriesAndSymbolsAreLookedUpInTheModule)
{
    CSysModule* engine = Load(Module("test_engine"));
    CSysModule* withoutFactory = Load(Module("test_engine_nofactory"));
    CSysModule* withoutNetSleep = Load(Module("test_engine_nonet"));
    ASSERT_TRUE(engine && withoutFactory && withoutNetSleep);

    InterfaceFactory factory = Sys_GetFactory(engine);
    ASSERT_NE(factory, nullptr);
    int code = -1;
    EXPECT_NE(factory(ENGINE_LAUNCHER_API_VERSION, &code), nullptr);
    EXPECT_EQ(code, IFACE_OK);
    EXPECT_EQ(Sys_GetFactory(withoutFactory), nullptr);

    EXPECT_NE(Sys_GetProcAddress(engine, ENGINE_NET_SLEEP_PROCNAME), nullptr);
    EXPECT_EQ(Sys_GetProcAddress(withoutNetSleep, ENGINE_NET_SLEEP_PROCNAME), nullptr);
}

// True while the module at path is loaded in this process.
bool IsLoaded(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle;
}

TEST_F(ModuleTest, NullHandlesAreHarmless)
{
    EXPECT_EQ(Sys_GetFactory(nullptr), nullptr);
    CSysModule* module = Sys_LoadModule(Module("test_engine").c_str());
    ASSERT_NE(module, nullptr);
    Sys_UnloadModule(nullptr);
    EXPECT_TRUE(IsLoaded(Module("test_engine")));
    Sys_UnloadModule(module);
    EXPECT_FALSE(IsLoaded(Module("test_engine")));
}

TEST_F(ModuleTest, ModuleSymbolsStayPrivate)
{
    // Loaded without RTLD_GLOBAL, a module's exports do not join the
    // process's global scope.
    ASSERT_NE(Load(Module("test_engine")), nullptr);
    EXPECT_EQ(Sys_GetProcAddress(RTLD_DEFAULT, ENGINE_NET_SLEEP_PROCNAME), nullptr);
}

}  // namespace
