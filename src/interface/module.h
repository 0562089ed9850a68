// Loading modules (shared libraries) and looking up what they export.
#ifndef TARN_INTERFACE_MODULE_H
#define TARN_INTERFACE_MODULE_H

#include "interface/interface.h"

// Loads a module with every symbol bound at once and kept private to it.
// A name not beginning with "/" is taken relative to the current directory,
// never from the loader's search path. On failure prints the loader's
// reason as "Error:..." and tries once more with ".so" appended.
// Returns the handle or null.
CSysModule* Sys_LoadModule(const char* moduleName);

// Releases a handle; null is ignored.
void Sys_UnloadModule(CSysModule* module);

// The address of symbolName in a loaded, non-null module, or null.
void* Sys_GetProcAddress(void* module, const char* symbolName);

// The module's "CreateInterface", or null for a null handle or a module
// without one.
InterfaceFactory Sys_GetFactory(CSysModule* module);

#endif
