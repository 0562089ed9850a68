// The factory scheme that joins the launcher and its modules.
//
// Every module exports one C-linkage function named "CreateInterface" of type
// InterfaceFactory. It maps an interface identifier (ASCII, ending in a
// three-digit version, compared exactly) to an object derived from
// IBaseInterface. The objects stay owned by the module that made them.
#ifndef TARN_SDK_INTERFACE_H
#define TARN_SDK_INTERFACE_H

// Root of every interface handed out by a factory.
class IBaseInterface {
public:
    virtual ~IBaseInterface() {}
};

// Return codes a factory stores through its second argument, when not null.
enum {
    IFACE_OK = 0,
    IFACE_FAILED = 1,
};

// identifier: the interface wanted; returnCode: may be null.
// Returns the interface, or null when the identifier is unknown.
typedef IBaseInterface* (*InterfaceFactory)(const char* identifier, int* returnCode);

#define CREATEINTERFACE_PROCNAME "CreateInterface"

#endif
