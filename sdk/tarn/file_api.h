// The file API of the reference file-system module, offered to the engine
// through the file-system factory handed to IServerEngineAPI::Initialize.
//
// Every path is relative to the server's base directory: the working
// directory when the launcher activated the module. Absolute paths, empty
// paths and paths with a ".." component are refused, so nothing outside the
// base directory can be named. Symbolic links inside it are followed: they
// are the operator's own doing.
//
// The virtual slot order below is a binary contract: never reorder, insert or
// remove an operation.
#ifndef TARN_SDK_FILE_API_H
#define TARN_SDK_FILE_API_H

#include "interface.h"

#define FILEAPI_INTERFACE_VERSION "TARN_FILE_API_VERSION001"

// A handle is 0 or more; a negative result is FILEAPI_END_OF_FILE or one of
// the FILEAPI_ERR codes.
typedef int FileHandle;

enum {
    FILEAPI_END_OF_FILE = -1,     // ReadLine only: no line is left
    FILEAPI_ERR_REFUSED = -2,     // absolute, empty or climbing out with ".."
    FILEAPI_ERR_NOT_FOUND = -3,   // no such file
    FILEAPI_ERR_NOT_A_FILE = -4,  // a directory or a device, not a regular file
    FILEAPI_ERR_TOO_MANY = -5,    // every handle is in use
    FILEAPI_ERR_INACTIVE = -6,    // before Activate or after Deactivate
    FILEAPI_ERR_BAD_HANDLE = -7,  // not a handle that is open now
    FILEAPI_ERR_IO = -8,          // any other failure of the system
    FILEAPI_ERR_BAD_ARGUMENT = -9,  // a null pointer, an unknown mode, a size below 0
};

// Modes of Open.
enum {
    FILEAPI_READ = 0,
    FILEAPI_WRITE = 1,   // created or truncated
    FILEAPI_APPEND = 2,  // created when missing
};

// Handles open at the same time, at most.
enum { FILEAPI_MAX_OPEN = 16 };

class IFileAPI : public IBaseInterface {
public:
    // Opens path in mode; returns a handle or an error code.
    virtual FileHandle Open(const char* path, int mode) = 0;
    // Closes a handle; 0, or FILEAPI_ERR_BAD_HANDLE.
    virtual int Close(FileHandle file) = 0;
    // Reads up to size bytes; returns the count (0 at the end) or an error.
    virtual int Read(FileHandle file, void* buffer, int size) = 0;
    // Writes size bytes; returns size or an error.
    virtual int Write(FileHandle file, const void* data, int size) = 0;
    // Reads one line without its "\n" into buffer, cut to size - 1
    // characters and terminated; the rest of an overlong line is skipped.
    // Returns the whole line's length (more than size - 1 when it was cut),
    // FILEAPI_END_OF_FILE when no line is left, or an error.
    virtual int ReadLine(FileHandle file, char* buffer, int size) = 0;
    // True when path names a regular file inside the base directory.
    virtual bool Exists(const char* path) = 0;
};

// A short English text for a result of the file API.
inline const char* FileAPI_ErrorText(int code)
{
    switch (code) {
    case FILEAPI_END_OF_FILE: return "end of file";
    case FILEAPI_ERR_REFUSED: return "path leaves the server directory";
    case FILEAPI_ERR_NOT_FOUND: return "no such file";
    case FILEAPI_ERR_NOT_A_FILE: return "not a regular file";
    case FILEAPI_ERR_TOO_MANY: return "too many open files";
    case FILEAPI_ERR_INACTIVE: return "file system not active";
    case FILEAPI_ERR_BAD_HANDLE: return "bad file handle";
    case FILEAPI_ERR_IO: return "input/output error";
    case FILEAPI_ERR_BAD_ARGUMENT: return "bad argument";
    default: return code < 0 ? "unknown error" : "no error";
    }
}

#endif
