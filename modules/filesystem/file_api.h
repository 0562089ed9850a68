// The reference file-system module's file API: a fixed table of open files,
// all resolved below the base directory opened at activation.
#ifndef TARN_MODULES_FILESYSTEM_FILE_API_H
#define TARN_MODULES_FILESYSTEM_FILE_API_H

#include <tarn/file_api.h>

#include <cstdio>

class FileAPI : public IFileAPI {
public:
    // Takes the working directory as the base directory; false when it
    // cannot be opened, and every Open then fails as inactive.
    bool Mount();
    // Closes every open file and the base directory. Safe to call twice.
    void Unmount();

    FileHandle Open(const char* path, int mode) override;
    int Close(FileHandle file) override;
    int Read(FileHandle file, void* buffer, int size) override;
    int Write(FileHandle file, const void* data, int size) override;
    int ReadLine(FileHandle file, char* buffer, int size) override;
    bool Exists(const char* path) override;

private:
    FILE* Lookup(FileHandle file) const;
    int FreeSlot() const;
    int OpenInBase(const char* path, int mode) const;

    int baseDirectory_ = -1;                 // descriptor of the base, or -1
    FILE* files_[FILEAPI_MAX_OPEN] = {};     // a handle is an index; null: free
};

#endif
