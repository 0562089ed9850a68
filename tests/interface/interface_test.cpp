// The launcher's interface registry and its factory.
#include "interface/interface.h"

#include <gtest/gtest.h>

namespace {

class CFirst : public IBaseInterface {};
class CSecond : public IBaseInterface {};

CFirst s_first;
CSecond s_second;

IBaseInterface* CreateFirst()
{
    return &s_first;
}

IBaseInterface* CreateSecond()
{
    return &s_second;
}

class CShared : public IBaseInterface {};
EXPOSE_SINGLE_INTERFACE(CShared, IBaseInterface, "TEST_SHARED001");

// Built in this order: the later record of the same identifier is served.
InterfaceReg s_firstReg(CreateFirst, "TEST_DUPLICATE001");
InterfaceReg s_secondReg(CreateSecond, "TEST_DUPLICATE001");

TEST(InterfaceRegistryTest, AnsweresARegisteredIdentifierWithCodeZero)
{
    int code = -1;
    IBaseInterface* shared = CreateInterface("TEST_SHARED001", &code);
    EXPECT_EQ(code, IFACE_OK);
    EXPECT_EQ(shared, &__g_CShared_singleton);
    EXPECT_EQ(CreateInterface("TEST_SHARED001", nullptr), shared);
}

TEST(InterfaceRegistryTest, UnknownIdentifierGivesNullAndCodeOne)
{
    int code = -1;
    EXPECT_EQ(CreateInterface("TEST_SHARED002", &code), nullptr);
    EXPECT_EQ(code, IFACE_FAILED);
    code = -1;
    EXPECT_EQ(CreateInterface("test_shared001", &code), nullptr);
    EXPECT_EQ(code, IFACE_FAILED);
    code = -1;
    EXPECT_EQ(CreateInterface("TEST_SHARED00", &code), nullptr);
    EXPECT_EQ(code, IFACE_FAILED);
    EXPECT_EQ(CreateInterface("", nullptr), nullptr);
}

TEST(InterfaceRegistryTest, TheRecordConstructedLastWins)
{
    EXPECT_EQ(CreateInterface("TEST_DUPLICATE001", nullptr), &s_second);
    EXPECT_EQ(InterfaceReg::s_pInterfaceRegs, &s_secondReg);
    EXPECT_EQ(s_secondReg.next, &s_firstReg);
}

TEST(InterfaceRegistryTest, TheLaunchersFactoryIsItsOwnCreateInterface)
{
    EXPECT_EQ(Sys_GetFactoryThis(), &CreateInterface);
    int code = -1;
    EXPECT_EQ(Sys_GetFactoryThis()("TEST_SHARED001", &code), &__g_CShared_singleton);
    EXPECT_EQ(code, IFACE_OK);
}

}  // namespace
