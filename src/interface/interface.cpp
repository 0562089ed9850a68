#include "interface/interface.h"

#include <cstring>

InterfaceReg* InterfaceReg::s_pInterfaceRegs = nullptr;

InterfaceReg::InterfaceReg(InterfaceConstructor function, const char* name)
    : createFunction(function), identifier(name), next(s_pInterfaceRegs)
{
    s_pInterfaceRegs = this;
}

IBaseInterface* CreateInterface(const char* identifier, int* returnCode)
{
    for (InterfaceReg* reg = InterfaceReg::s_pInterfaceRegs; reg; reg = reg->next) {
        if (std::strcmp(reg->identifier, identifier) == 0) {
            if (returnCode)
                *returnCode = IFACE_OK;
            return reg->createFunction();
        }
    }
    if (returnCode)
        *returnCode = IFACE_FAILED;
    return nullptr;
}

InterfaceFactory Sys_GetFactoryThis()
{
    return CreateInterface;
}
