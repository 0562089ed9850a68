#include "dedicated_exports.h"

#include "sys_printf.h"

void CDedicatedExports::Sys_Printf(const char* text)
{
    // The engine's text is printed literally: a "%" in it is no conversion.
    ::Sys_Printf("%s", text);
}
