// A file-system module for the launcher's end-to-end tests: it logs
// Activate and Deactivate, and with TARN_TEST_FS_NO_API set its factory
// answers nothing.
#include "contract.h"
#include "test_log.h"

#include <cstdlib>
#include <cstring>

namespace {

class TestFileSystemModule : public TestFileSystem {
public:
    void Activate() override { TestLog("filesystem activate"); }
    void Deactivate() override { TestLog("filesystem deactivate"); }
};

TestFileSystemModule s_fileSystem;

}  // namespace

#ifndef TEST_FS_NO_FACTORY
extern "C" __attribute__((visibility("default")))
TestBaseInterface* CreateInterface(const char* name, int* returnCode)
{
    bool found = std::strcmp(name, "XFileSystem009") == 0 && !std::getenv("TARN_TEST_FS_NO_API");
    if (returnCode)
        *returnCode = found ? 0 : 1;
    return found ? &s_fileSystem : nullptr;
}
#endif
