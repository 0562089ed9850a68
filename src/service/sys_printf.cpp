#include "sys_printf.h"

#include <cstdarg>
#include <cstdio>

void Sys_Printf(const char* format, ...)
{
    char text[kMaxPrintLength + 1];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    // Nobody could be told of a failed write to standard output.
    std::printf("%s", text);
    std::fflush(stdout);
}
