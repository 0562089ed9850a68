// The reference file-system module: the launcher activates it before the
// engine starts and deactivates it at the end; in between it serves the
// engine's file API. It prints nothing: the launcher gives it no print
// service, so failures reach the engine as results.
#include "file_api.h"

#include <tarn/export.h>
#include <tarn/filesystem_api.h>

#include <cstring>

namespace {

FileAPI s_fileAPI;

class FileSystemModule : public IFileSystemModule {
public:
    // The launcher loaded the modules from the working directory, and that
    // is the base directory it hands the engine as ".".
    void Activate() override { s_fileAPI.Mount(); }
    void Deactivate() override { s_fileAPI.Unmount(); }
};

FileSystemModule s_module;

IBaseInterface* Lookup(const char* identifier)
{
    if (std::strcmp(identifier, FILESYSTEM_INTERFACE_VERSION) == 0)
        return &s_module;
    if (std::strcmp(identifier, FILEAPI_INTERFACE_VERSION) == 0)
        return &s_fileAPI;
    return nullptr;
}

}  // namespace

TARN_MODULE_EXPORT IBaseInterface* CreateInterface(const char* identifier, int* returnCode)
{
    IBaseInterface* found = identifier ? Lookup(identifier) : nullptr;
    if (returnCode)
        *returnCode = found ? IFACE_OK : IFACE_FAILED;
    return found;
}
