#ifndef TARN_COMMON_OBJECT_CONTAINER_H
#define TARN_COMMON_OBJECT_CONTAINER_H

// A container of untyped object pointers with one built-in iteration cursor.
// Completion providers fill it only through these virtual operations, so
// their order below is the slot order providers are built against: never
// reorder, insert or remove one.
class IObjectContainer {
public:
    virtual ~IObjectContainer() {}

    virtual void Init() = 0;
    virtual bool Add(void* newObject) = 0;
    virtual bool Remove(void* object) = 0;
    virtual void Clear(bool freeElementsMemory) = 0;
    virtual void* GetFirst() = 0;
    virtual void* GetNext() = 0;
    virtual int CountElements() = 0;
    virtual bool Contains(void* object) = 0;
    virtual bool IsEmpty() = 0;
};

#endif
