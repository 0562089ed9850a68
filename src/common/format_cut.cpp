#include "common/format_cut.h"

#include <cstdarg>
#include <cstdio>

void Format_Cut(char* out, size_t size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(out, size, format, arguments);
    va_end(arguments);
}

bool Format_Whole(char* out, size_t size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(out, size, format, arguments);
    va_end(arguments);
    return length >= 0 && static_cast<size_t>(length) < size;
}
