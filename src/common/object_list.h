#ifndef TARN_COMMON_OBJECT_LIST_H
#define TARN_COMMON_OBJECT_LIST_H

// Kept for compatibility: completion providers fill an ObjectList through
// its virtual slots, though the launcher hands its console none.
//
// ObjectList: a doubly linked list of untyped object pointers. The list owns
// its nodes, never the objects, except that Clear(true) releases them with
// Mem_Free. Objects are compared by pointer only; the same pointer, and null,
// may be stored more than once.
//
// One iteration at a time: GetFirst starts it, GetNext goes on until null.
// Contains places the cursor on the node it finds, and removing the node
// under the cursor moves the cursor to the following node.

#include "common/object_container.h"

#include <cstdint>

struct ObjectListNode {
    ObjectListNode* previous;  // node before this one; null at the head
    ObjectListNode* next;      // node after this one; null at the tail
    void* payload;             // the stored object; may be null
};

class ObjectList : public IObjectContainer {
public:
    ObjectList();
    ~ObjectList() override;
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;

    void Init() override;
    bool Add(void* newObject) override;
    bool Remove(void* object) override;
    void Clear(bool freeElementsMemory) override;
    void* GetFirst() override;
    void* GetNext() override;
    int CountElements() override;
    bool Contains(void* object) override;
    bool IsEmpty() override;

    bool AddHead(void* newObject);
    bool AddTail(void* newObject);
    void* RemoveHead();
    void* RemoveTail();

protected:
    ObjectListNode* head;    // first node; null when the list is empty
    ObjectListNode* tail;    // last node; null when the list is empty
    ObjectListNode* cursor;  // node whose object GetNext returns next; null at the end
    int32_t elementCount;    // number of nodes

private:
    ObjectListNode* NewNode(void* object);
    bool Link(void* object, ObjectListNode* before, ObjectListNode* after);
    ObjectListNode* Find(void* object);
    void* Unlink(ObjectListNode* node);
};

#endif
