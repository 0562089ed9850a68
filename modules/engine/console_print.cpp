#include "console_print.h"

#include <cstdarg>
#include <cstdio>

namespace {

// The launcher prints at most 1023 characters of one text.
constexpr int kPrintSize = 1024;

IDedicatedExports* s_exports = nullptr;

}  // namespace

void Con_Connect(IDedicatedExports* exports)
{
    s_exports = exports;
}

bool Con_Connected()
{
    return s_exports != nullptr;
}

void Con_Printf(const char* format, ...)
{
    if (!s_exports)
        return;
    char text[kPrintSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    s_exports->Sys_Printf(text);
}
