#include "file_api.h"

#include "path_rules.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFilePermissions = 0644;

// Open flags per mode, or -1 for an unknown mode. O_NONBLOCK keeps a named
// pipe from blocking the server in open; it is refused right after.
int OpenFlags(int mode)
{
    constexpr int kCommon = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    switch (mode) {
    case FILEAPI_READ: return O_RDONLY | kCommon;
    case FILEAPI_WRITE: return O_WRONLY | O_CREAT | O_TRUNC | kCommon;
    case FILEAPI_APPEND: return O_WRONLY | O_CREAT | O_APPEND | kCommon;
    default: return -1;
    }
}

const char* StreamMode(int mode)
{
    return mode == FILEAPI_READ ? "r" : mode == FILEAPI_WRITE ? "w" : "a";
}

int ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return FILEAPI_ERR_NOT_FOUND;
    case EISDIR: return FILEAPI_ERR_NOT_A_FILE;
    default: return FILEAPI_ERR_IO;
    }
}

bool IsRegularFile(int descriptor)
{
    struct stat status;
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

// Puts a regular file's descriptor back into blocking mode for stdio.
bool MakeBlocking(int descriptor)
{
    int flags = fcntl(descriptor, F_GETFL);
    return flags >= 0 && fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

bool FileAPI::Mount()
{
    Unmount();
    baseDirectory_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return baseDirectory_ >= 0;
}

void FileAPI::Unmount()
{
    for (FileHandle file = 0; file < FILEAPI_MAX_OPEN; ++file)
        Close(file);
    if (baseDirectory_ >= 0)
        close(baseDirectory_);
    baseDirectory_ = -1;
}

FILE* FileAPI::Lookup(FileHandle file) const
{
    if (file < 0 || file >= FILEAPI_MAX_OPEN)
        return nullptr;
    return files_[file];
}

int FileAPI::FreeSlot() const
{
    for (int slot = 0; slot < FILEAPI_MAX_OPEN; ++slot)
        if (!files_[slot])
            return slot;
    return FILEAPI_ERR_TOO_MANY;
}

// A regular file's descriptor, or an error code.
int FileAPI::OpenInBase(const char* path, int mode) const
{
    int descriptor = openat(baseDirectory_, path, OpenFlags(mode), kNewFilePermissions);
    if (descriptor < 0)
        return ErrorFromErrno(errno);
    if (!IsRegularFile(descriptor) || !MakeBlocking(descriptor)) {
        close(descriptor);
        return FILEAPI_ERR_NOT_A_FILE;
    }
    return descriptor;
}

FileHandle FileAPI::Open(const char* path, int mode)
{
    if (OpenFlags(mode) < 0 || !path)
        return FILEAPI_ERR_BAD_ARGUMENT;
    if (baseDirectory_ < 0)
        return FILEAPI_ERR_INACTIVE;
    if (!FS_PathStaysInside(path))
        return FILEAPI_ERR_REFUSED;
    int slot = FreeSlot();
    if (slot < 0)
        return slot;
    int descriptor = OpenInBase(path, mode);
    if (descriptor < 0)
        return descriptor;
    files_[slot] = fdopen(descriptor, StreamMode(mode));
    if (!files_[slot]) {
        close(descriptor);
        return FILEAPI_ERR_IO;
    }
    return slot;
}

int FileAPI::Close(FileHandle file)
{
    FILE* stream = Lookup(file);
    if (!stream)
        return FILEAPI_ERR_BAD_HANDLE;
    files_[file] = nullptr;
    return std::fclose(stream) == 0 ? 0 : FILEAPI_ERR_IO;
}

int FileAPI::Read(FileHandle file, void* buffer, int size)
{
    FILE* stream = Lookup(file);
    if (!stream)
        return FILEAPI_ERR_BAD_HANDLE;
    if (!buffer || size < 0)
        return FILEAPI_ERR_BAD_ARGUMENT;
    size_t count = std::fread(buffer, 1, static_cast<size_t>(size), stream);
    return std::ferror(stream) ? FILEAPI_ERR_IO : static_cast<int>(count);
}

int FileAPI::Write(FileHandle file, const void* data, int size)
{
    FILE* stream = Lookup(file);
    if (!stream)
        return FILEAPI_ERR_BAD_HANDLE;
    if (!data || size < 0)
        return FILEAPI_ERR_BAD_ARGUMENT;
    size_t count = std::fwrite(data, 1, static_cast<size_t>(size), stream);
    return count == static_cast<size_t>(size) ? size : FILEAPI_ERR_IO;
}

int FileAPI::ReadLine(FileHandle file, char* buffer, int size)
{
    FILE* stream = Lookup(file);
    if (!stream)
        return FILEAPI_ERR_BAD_HANDLE;
    if (!buffer || size < 1)
        return FILEAPI_ERR_BAD_ARGUMENT;
    // An overlong line is cut in the buffer but still counted to its end,
    // so the caller can tell, and the next call starts on the next line.
    int length = 0;
    int c;
    while ((c = std::getc(stream)) != EOF && c != '\n') {
        if (length < size - 1)
            buffer[length] = static_cast<char>(c);
        if (length < INT_MAX)
            ++length;
    }
    buffer[length < size - 1 ? length : size - 1] = '\0';
    if (c == EOF && length == 0)
        return std::ferror(stream) ? FILEAPI_ERR_IO : FILEAPI_END_OF_FILE;
    return length;
}

bool FileAPI::Exists(const char* path)
{
    if (baseDirectory_ < 0 || !FS_PathStaysInside(path))
        return false;
    struct stat status;
    return fstatat(baseDirectory_, path, &status, 0) == 0 && S_ISREG(status.st_mode);
}
