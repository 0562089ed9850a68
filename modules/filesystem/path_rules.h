// Which paths the file API accepts.
#ifndef TARN_MODULES_FILESYSTEM_PATH_RULES_H
#define TARN_MODULES_FILESYSTEM_PATH_RULES_H

// True when path is relative, not empty and has no ".." component, so that
// resolved below a directory it cannot name anything above it.
bool FS_PathStaysInside(const char* path);

#endif
