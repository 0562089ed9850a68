// What the launcher asks of the file-system module "filesystem_stdio_i386.so".
//
// The virtual slot order below is a binary contract: never reorder, insert or
// remove an operation.
#ifndef TARN_SDK_FILESYSTEM_API_H
#define TARN_SDK_FILESYSTEM_API_H

#include "interface.h"

#define FILESYSTEM_INTERFACE_VERSION "XFileSystem009"

class IFileSystemModule : public IBaseInterface {
public:
    // Once, right after the launcher obtained the interface, before the
    // console and the engine start.
    virtual void Activate() = 0;
    // Once at teardown, after the engine's last shutdown, before unloading.
    virtual void Deactivate() = 0;
};

#endif
