#include "output/sys_printf.h"

#include "output/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void Sys_Printf(const char* format, ...)
{
    char text[kMaxPrintLength + 1];
    va_list arguments;
    va_start(arguments, format);
    text[0] = '\0';
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    // The text ends at its first NUL, as printed text always did. Out at
    // once when the reader keeps up; nobody could be told of a failure,
    // which the output owner counts instead.
    Output_Write(OutputStream::kStdout, text, std::strlen(text));
}

void Output_Print(const char* text)
{
    Output_Write(OutputStream::kStdout, text, std::strlen(text));
}
