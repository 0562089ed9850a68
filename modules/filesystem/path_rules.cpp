#include "path_rules.h"

#include <cstring>

namespace {

bool IsParentComponent(const char* part, size_t length)
{
    return length == 2 && part[0] == '.' && part[1] == '.';
}

}  // namespace

bool FS_PathStaysInside(const char* path)
{
    if (!path || path[0] == '\0' || path[0] == '/')
        return false;
    for (const char* part = path; *part != '\0';) {
        size_t length = std::strcspn(part, "/");
        if (IsParentComponent(part, length))
            return false;
        part += length;
        while (*part == '/')
            ++part;
    }
    return true;
}
