// The tab-completion provider a console may be given.
// Kept for compatibility: the launcher starts its console without one, so
// Tab does nothing there, but a provider's slot order stays as providers
// know it.
#ifndef TARN_CONSOLE_BASE_SYSTEM_H
#define TARN_CONSOLE_BASE_SYSTEM_H

class ObjectList;

class IBaseSystem {
public:
    virtual ~IBaseSystem() {}
    // Adds to completions (empty when called) one pointer per completion of
    // partial: NUL-terminated strings that begin with partial and stay
    // valid until the console's Tab handling returns. The console never
    // frees them.
    virtual void CollectCompletions(const char* partial, ObjectList* completions) = 0;
};

#endif
