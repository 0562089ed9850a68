// The launcher's side of the factory scheme: its registry of interfaces and
// the loader functions for modules.
#ifndef TARN_INTERFACE_INTERFACE_H
#define TARN_INTERFACE_INTERFACE_H

#include <tarn/interface.h>  // IBaseInterface, InterfaceFactory

// Stands for the dynamic loader's handle; never defined. Null: no module.
class CSysModule;

typedef IBaseInterface* (*InterfaceConstructor)();

// One record of the registry, of static storage duration. Constructing it
// pushes it on the front of the list, so a later record of the same
// identifier hides an earlier one. Records are never removed.
class InterfaceReg {
public:
    InterfaceReg(InterfaceConstructor function, const char* name);

    InterfaceConstructor createFunction;
    const char* identifier;  // not copied: must outlive the record
    InterfaceReg* next;

    // Constant-initialised to null, so records may be built in any order
    // during static initialisation. Named by the design: the
    // Hungarian-style name that the launcher's design gives it; nothing
    // outside the process reaches it.
    static InterfaceReg* s_pInterfaceRegs;
};

// Publishes one shared instance of className as interfaceName under
// versionName. Every request returns the same instance; callers never
// delete it.
#define EXPOSE_SINGLE_INTERFACE(className, interfaceName, versionName)                  \
    static className __g_##className##_singleton;                                       \
    static IBaseInterface* __Create##className##interfaceName##_interface()             \
    {                                                                                   \
        return static_cast<interfaceName*>(&__g_##className##_singleton);               \
    }                                                                                   \
    static InterfaceReg __g_Create##className##interfaceName##_reg(                     \
        __Create##className##interfaceName##_interface, versionName)

// The launcher's own factory. It stays out of the executable's dynamic symbol
// table: modules reach it only through the pointer Sys_GetFactoryThis gives.
extern "C" __attribute__((visibility("hidden")))
IBaseInterface* CreateInterface(const char* identifier, int* returnCode);

InterfaceFactory Sys_GetFactoryThis();

#endif
