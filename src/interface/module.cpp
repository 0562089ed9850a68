#include "module.h"

#include "format_cut.h"
#include "module_file.h"
#include "sys_printf.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr size_t kPathSize = 1024;
constexpr size_t kRetryPathSize = 512;

// Builds the absolute path of moduleName into path. False when the current
// directory cannot be read; the path is then left unused.
bool ModulePath(const char* moduleName, char (&path)[kPathSize])
{
    if (moduleName[0] == '/') {
        FormatCut(path, sizeof(path), "%s", moduleName);
        return true;
    }
    char directory[kPathSize];
    if (!getcwd(directory, sizeof(directory))) {
        Sys_Printf("Error:cannot read the current directory (%s)\n", std::strerror(errno));
        return false;
    }
    // The root directory becomes "" so that "/" + name has a single slash.
    size_t length = std::strlen(directory);
    if (length > 0 && directory[length - 1] == '/')
        directory[length - 1] = '\0';
    FormatCut(path, sizeof(path), "%s/%s", directory, moduleName);
    return true;
}

constexpr size_t kReasonSize = kPathSize + 64;

// The loader's handle, or null with the reason, naming the file, in reason.
void* Open(const char* path, char (&reason)[kReasonSize])
{
    if (!Sys_ModuleFileIsWhole(path)) {
        FormatCut(reason, sizeof(reason), "%s: file too short for its loadable segments", path);
        return nullptr;
    }
    void* handle = dlopen(path, RTLD_NOW);
    if (!handle) {
        const char* loaderReason = dlerror();
        FormatCut(reason, sizeof(reason), "%s", loaderReason ? loaderReason : "unknown loader error");
    }
    return handle;
}

}  // namespace

CSysModule* Sys_LoadModule(const char* moduleName)
{
    char path[kPathSize];
    if (!ModulePath(moduleName, path))
        return nullptr;

    char reason[kReasonSize];
    void* handle = Open(moduleName[0] == '/' ? moduleName : path, reason);
    if (handle)
        return static_cast<CSysModule*>(handle);
    Sys_Print("Error:");
    Sys_Print(reason);
    Sys_Print("\n");

    char retryPath[kRetryPathSize];
    FormatCut(retryPath, sizeof(retryPath), "%s.so", path);
    return static_cast<CSysModule*>(Open(retryPath, reason));
}

void Sys_UnloadModule(CSysModule* module)
{
    if (module)
        dlclose(module);
}

void* Sys_GetProcAddress(void* module, const char* symbolName)
{
    return dlsym(module, symbolName);
}

InterfaceFactory Sys_GetFactory(CSysModule* module)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<InterfaceFactory>(Sys_GetProcAddress(module, CREATEINTERFACE_PROCNAME));
}
