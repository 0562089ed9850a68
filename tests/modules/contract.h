// The launcher's binary contract, written out here on purpose instead of
// including the launcher's headers: these modules check the slot orders and
// C-linkage names as a module built elsewhere sees them.
#ifndef TARN_TEST_MODULES_CONTRACT_H
#define TARN_TEST_MODULES_CONTRACT_H

class TestBaseInterface {
public:
    virtual ~TestBaseInterface() {}
};

typedef TestBaseInterface* (*TestFactory)(const char* name, int* returnCode);

class TestEngineAPI : public TestBaseInterface {
public:
    virtual bool Initialize(const char* base, const char* commandLine, TestFactory launcher,
                            TestFactory filesystem) = 0;
    virtual int Shutdown() = 0;
    virtual bool RunFrame() = 0;
    virtual void SubmitConsoleText(const char* text) = 0;
};

class TestFileSystem : public TestBaseInterface {
public:
    virtual void Activate() = 0;
    virtual void Deactivate() = 0;
};

class TestLauncherExports : public TestBaseInterface {
public:
    virtual void Sys_Printf(char* text) = 0;
};

#endif
