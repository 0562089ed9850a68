#include "common/format_cut.h"

#include <cstdarg>
#include <cstdio>

void FormatCut(char* out, size_t size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(out, size, format, arguments);
    va_end(arguments);
}

bool FormatWhole(char* out, size_t size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(out, size, format, arguments);
    va_end(arguments);
    return length >= 0 && static_cast<size_t>(length) < size;
}
