#include "launcher/dedicated_exports.h"

#include "output/sys_printf.h"

void CDedicatedExports::Sys_Printf(const char* text)
{
    // The engine's text is printed literally: a "%" in it is no conversion.
    ::Sys_Printf("%s", text);
}
