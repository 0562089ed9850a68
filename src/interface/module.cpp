#include "interface/module.h"

#include "common/format_cut.h"
#include "interface/module_file.h"
#include "output/sys_printf.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <initializer_list>
#include <unistd.h>

namespace {

constexpr size_t kPathSize = 1024;
constexpr size_t kRetryPathSize = 512;

// The path tried is never cut to fit its buffer: a cut path names another
// file, which may lie outside the directory and be someone else's. A path
// that does not fit is refused with the loader's kind of line.
void ReportTooLong(const char* directory, const char* separator, const char* moduleName)
{
    char limit[64];
    std::snprintf(limit, sizeof(limit), ": path longer than %zu characters\n", kPathSize - 1);
    for (const char* part : {"Error:", directory, separator, moduleName, static_cast<const char*>(limit)})
        Output_Print(part);
}

// Builds the absolute path of moduleName into path. False, with the reason
// printed, when the current directory cannot be read or the path does not
// fit; the path is then left unused.
bool ModulePath(const char* moduleName, char (&path)[kPathSize])
{
    if (moduleName[0] == '/') {
        if (Format_Whole(path, sizeof(path), "%s", moduleName))
            return true;
        ReportTooLong("", "", moduleName);
        return false;
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
    if (Format_Whole(path, sizeof(path), "%s/%s", directory, moduleName))
        return true;
    ReportTooLong(directory, "/", moduleName);
    return false;
}

constexpr size_t kReasonSize = kPathSize + 64;

// The loader's handle, or null with the reason, naming the file, in reason.
void* Open(const char* path, char (&reason)[kReasonSize])
{
    if (!Module_FileIsWhole(path)) {
        Format_Cut(reason, sizeof(reason), "%s: file too short for its loadable segments", path);
        return nullptr;
    }
    void* handle = dlopen(path, RTLD_NOW);
    if (!handle) {
        const char* loaderReason = dlerror();
        Format_Cut(reason, sizeof(reason), "%s", loaderReason ? loaderReason : "unknown loader error");
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
    void* handle = Open(path, reason);
    if (handle)
        return static_cast<CSysModule*>(handle);
    Output_Print("Error:");
    Output_Print(reason);
    Output_Print("\n");

    // The second attempt prints nothing of its own, not even for its length.
    char retryPath[kRetryPathSize];
    if (!Format_Whole(retryPath, sizeof(retryPath), "%s.so", path))
        return nullptr;
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
