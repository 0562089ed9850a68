// The reference file-system module loaded into this test process: its
// factory, the file API's confinement to the base directory, its handle
// table and its line reading, on real files in a temporary directory.
#include "temp_workdir.h"

#include <tarn/file_api.h>
#include <tarn/filesystem_api.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileAPITest : public TempWorkdir {
protected:
    void SetUp() override
    {
        TempWorkdir::SetUp();
        handle_ = dlopen(TARN_REFERENCE_FILESYSTEM, RTLD_NOW);
        ASSERT_NE(handle_, nullptr) << dlerror();
        factory = reinterpret_cast<InterfaceFactory>(dlsym(handle_, CREATEINTERFACE_PROCNAME));
        ASSERT_NE(factory, nullptr);
        module = static_cast<IFileSystemModule*>(factory(FILESYSTEM_INTERFACE_VERSION, nullptr));
        files = static_cast<IFileAPI*>(factory(FILEAPI_INTERFACE_VERSION, nullptr));
        ASSERT_NE(module, nullptr);
        ASSERT_NE(files, nullptr);
        module->Activate();
    }

    void TearDown() override
    {
        if (module)
            module->Deactivate();
        if (handle_)
            dlclose(handle_);
        TempWorkdir::TearDown();
    }

    std::string ReadAll(const char* path)
    {
        FileHandle file = files->Open(path, FILEAPI_READ);
        if (file < 0)
            return FileAPI_ErrorText(file);
        char buffer[256];
        int length = files->Read(file, buffer, sizeof(buffer));
        files->Close(file);
        return length < 0 ? FileAPI_ErrorText(length) : std::string(buffer, length);
    }

    InterfaceFactory factory = nullptr;
    IFileSystemModule* module = nullptr;
    IFileAPI* files = nullptr;

private:
    void* handle_ = nullptr;
};

TEST_F(FileAPITest, TheFactoryAnswersItsTwoIdentifiersAndNothingElse)
{
    int code = -1;
    EXPECT_EQ(factory("XFileSystem009", &code), module);
    EXPECT_EQ(code, IFACE_OK);
    EXPECT_EQ(factory("TARN_FILE_API_VERSION001", &code), files);
    EXPECT_EQ(code, IFACE_OK);
    for (const char* other : {"XFileSystem008", "xfilesystem009", "TARN_FILE_API_VERSION002", ""}) {
        code = -1;
        EXPECT_EQ(factory(other, &code), nullptr) << other;
        EXPECT_EQ(code, IFACE_FAILED) << other;
    }
}

TEST_F(FileAPITest, PathsThatLeaveTheBaseDirectoryAreRefusedEvenWhenTheFileExists)
{
    std::filesystem::create_directory("sub");
    WriteFile("secret.cfg", "inside");
    std::string absolute = std::filesystem::absolute("secret.cfg").string();
    std::string name = std::filesystem::current_path().filename().string();
    for (const std::string& path : {absolute, std::string("/etc/passwd"), std::string(""),
                                   std::string(".."), std::string("../") + name + "/secret.cfg",
                                   std::string("sub/../secret.cfg"), std::string("sub/.."),
                                   std::string("./../x"), std::string("sub//../../x")}) {
        EXPECT_EQ(files->Open(path.c_str(), FILEAPI_READ), FILEAPI_ERR_REFUSED) << path;
        EXPECT_EQ(files->Open(path.c_str(), FILEAPI_WRITE), FILEAPI_ERR_REFUSED) << path;
        EXPECT_FALSE(files->Exists(path.c_str())) << path;
    }
    EXPECT_EQ(ReadFile("secret.cfg"), "inside");
}

TEST_F(FileAPITest, NamesThatOnlyLookLikeClimbingAreFilesLikeAnyOther)
{
    std::filesystem::create_directory("sub");
    for (const char* path : {"..a", "a..", "...", ".hidden", "./dot", "sub//double", "sub/./x"}) {
        FileHandle file = files->Open(path, FILEAPI_WRITE);
        ASSERT_GE(file, 0) << path << ": " << FileAPI_ErrorText(file);
        EXPECT_EQ(files->Write(file, "ok", 2), 2);
        EXPECT_EQ(files->Close(file), 0);
        EXPECT_TRUE(files->Exists(path)) << path;
        EXPECT_EQ(ReadAll(path), "ok") << path;
    }
}

TEST_F(FileAPITest, TheBaseDirectoryIsTheOneCurrentAtActivation)
{
    WriteFile("base.cfg", "base");
    std::filesystem::create_directory("elsewhere");
    WriteFile("elsewhere/base.cfg", "elsewhere");
    ASSERT_EQ(chdir("elsewhere"), 0);
    EXPECT_EQ(ReadAll("base.cfg"), "base");
    ASSERT_EQ(chdir(".."), 0);
}

TEST_F(FileAPITest, FailuresSayWhy)
{
    std::filesystem::create_directory("dir");
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    EXPECT_EQ(files->Open("missing.cfg", FILEAPI_READ), FILEAPI_ERR_NOT_FOUND);
    EXPECT_EQ(files->Open("nodir/new.cfg", FILEAPI_WRITE), FILEAPI_ERR_NOT_FOUND);
    EXPECT_EQ(files->Open("dir", FILEAPI_READ), FILEAPI_ERR_NOT_A_FILE);
    EXPECT_EQ(files->Open("dir", FILEAPI_WRITE), FILEAPI_ERR_NOT_A_FILE);
    // A named pipe without a writer would block the server in open.
    EXPECT_EQ(files->Open("pipe", FILEAPI_READ), FILEAPI_ERR_NOT_A_FILE);
    EXPECT_EQ(files->Open("x", 3), FILEAPI_ERR_BAD_ARGUMENT);
    EXPECT_EQ(files->Open(nullptr, FILEAPI_READ), FILEAPI_ERR_BAD_ARGUMENT);
    EXPECT_FALSE(files->Exists("dir"));
    EXPECT_FALSE(files->Exists(nullptr));
}

TEST_F(FileAPITest, NothingOpensBeforeActivationOrAfterDeactivation)
{
    WriteFile("a.cfg", "a");
    module->Deactivate();
    EXPECT_EQ(files->Open("a.cfg", FILEAPI_READ), FILEAPI_ERR_INACTIVE);
    EXPECT_FALSE(files->Exists("a.cfg"));
    module->Activate();
    EXPECT_EQ(ReadAll("a.cfg"), "a");
}

TEST_F(FileAPITest, HandlesAreBoundedReusedAndCheckedOnEveryCall)
{
    WriteFile("a.cfg", "a");
    FileHandle open[FILEAPI_MAX_OPEN];
    for (FileHandle& file : open)
        ASSERT_GE(file = files->Open("a.cfg", FILEAPI_READ), 0);
    EXPECT_EQ(files->Open("a.cfg", FILEAPI_READ), FILEAPI_ERR_TOO_MANY);
    EXPECT_EQ(files->Close(open[3]), 0);
    EXPECT_EQ(files->Close(open[3]), FILEAPI_ERR_BAD_HANDLE);
    char byte;
    EXPECT_EQ(files->Read(open[3], &byte, 1), FILEAPI_ERR_BAD_HANDLE);
    EXPECT_EQ(files->Open("a.cfg", FILEAPI_READ), open[3]);
    for (FileHandle bad : {-1, int{FILEAPI_MAX_OPEN}, 1000}) {
        EXPECT_EQ(files->Close(bad), FILEAPI_ERR_BAD_HANDLE);
        EXPECT_EQ(files->Write(bad, "x", 1), FILEAPI_ERR_BAD_HANDLE);
        EXPECT_EQ(files->ReadLine(bad, &byte, 1), FILEAPI_ERR_BAD_HANDLE);
    }
}

TEST_F(FileAPITest, DeactivationClosesAndFlushesOpenFiles)
{
    FileHandle file = files->Open("out.txt", FILEAPI_WRITE);
    ASSERT_GE(file, 0);
    EXPECT_EQ(files->Write(file, "written", 7), 7);
    module->Deactivate();
    EXPECT_EQ(ReadFile("out.txt"), "written");
    module->Activate();
    EXPECT_EQ(files->Close(file), FILEAPI_ERR_BAD_HANDLE);
}

TEST_F(FileAPITest, WriteTruncatesAndAppendAdds)
{
    WriteFile("log.txt", "old contents");
    FileHandle file = files->Open("log.txt", FILEAPI_WRITE);
    files->Write(file, "one\n", 4);
    files->Close(file);
    file = files->Open("log.txt", FILEAPI_APPEND);
    files->Write(file, "two\n", 4);
    files->Close(file);
    EXPECT_EQ(ReadFile("log.txt"), "one\ntwo\n");
    EXPECT_EQ(files->Write(files->Open("new.txt", FILEAPI_APPEND), "x", -1), FILEAPI_ERR_BAD_ARGUMENT);
}

TEST_F(FileAPITest, ReadLineCutsAtTheBufferAndReportsTheWholeLength)
{
    constexpr int kSize = 8;
    WriteFile("lines.cfg", "1234567\n12345678\n\nlast\r\nend");
    FileHandle file = files->Open("lines.cfg", FILEAPI_READ);
    char line[kSize + 1];
    line[kSize] = '#';  // must stay untouched
    EXPECT_EQ(files->ReadLine(file, line, kSize), 7);  // exactly fits
    EXPECT_STREQ(line, "1234567");
    EXPECT_EQ(files->ReadLine(file, line, kSize), 8);  // one past: cut
    EXPECT_STREQ(line, "1234567");
    EXPECT_EQ(files->ReadLine(file, line, kSize), 0);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(files->ReadLine(file, line, kSize), 5);
    EXPECT_STREQ(line, "last\r");
    EXPECT_EQ(files->ReadLine(file, line, kSize), 3);  // no newline at the end
    EXPECT_STREQ(line, "end");
    EXPECT_EQ(files->ReadLine(file, line, kSize), FILEAPI_END_OF_FILE);
    EXPECT_EQ(files->ReadLine(file, line, kSize), FILEAPI_END_OF_FILE);
    EXPECT_EQ(line[kSize], '#');
    EXPECT_EQ(files->ReadLine(file, line, 0), FILEAPI_ERR_BAD_ARGUMENT);
    files->Close(file);
}

}  // namespace
