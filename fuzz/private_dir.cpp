#include "private_dir.h"

#include "fuzz_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string s_privateDir;
int s_startDir = -1;  // open descriptor of the directory the process started in

bool HasArtifactPrefix(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-artifact_prefix=", 17) == 0)
            return true;
    }
    return false;
}

// libFuzzer parses its flags after LLVMFuzzerInitialize, from the vector
// left here; the new vector lives as long as the process.
void AddArtifactPrefix(int* argc, char*** argv)
{
    char here[4096];
    FUZZ_CHECK(getcwd(here, sizeof(here)) != nullptr);
    static std::string flag = std::string("-artifact_prefix=") + here + "/";
    static std::vector<char*> arguments;
    arguments.assign(*argv, *argv + *argc);
    arguments.push_back(flag.data());
    arguments.push_back(nullptr);
    *argc = static_cast<int>(arguments.size()) - 1;
    *argv = arguments.data();
}

void RemovePrivateDir()
{
    rmdir(s_privateDir.c_str());  // left behind when a crash kept files in it
}

}  // namespace

void Fuzz_CreatePrivateDir(int* argc, char*** argv)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    s_privateDir = pattern;
    s_startDir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(s_startDir >= 0);
    std::atexit(RemovePrivateDir);
    if (!HasArtifactPrefix(*argc, *argv))
        AddArtifactPrefix(argc, argv);
}

PrivateDirVisit::PrivateDirVisit()
{
    FUZZ_CHECK(chdir(s_privateDir.c_str()) == 0);
}

PrivateDirVisit::~PrivateDirVisit()
{
    FUZZ_CHECK(fchdir(s_startDir) == 0);
}
