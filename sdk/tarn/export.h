// Exporting a module's entry points.
//
// The launcher finds a module's factory, and the engine's optional network
// sleep, by their plain symbol names with the dynamic loader. They must have
// C linkage (no name mangling) and default visibility, even when the module
// is built with -fvisibility=hidden, as it should be.
#ifndef TARN_SDK_EXPORT_H
#define TARN_SDK_EXPORT_H

#define TARN_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

#endif
