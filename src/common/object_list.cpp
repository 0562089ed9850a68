// ObjectList: node allocation, insertion, removal, iteration.

#include "common/object_list.h"

#include "common/mem.h"

ObjectList::ObjectList()
    : head(nullptr), tail(nullptr), cursor(nullptr), elementCount(0)
{
}

// Releases the nodes only: the objects still belong to whoever stored them.
ObjectList::~ObjectList()
{
    ObjectList::Clear(false);
}

// Forgets every node without releasing it.
void ObjectList::Init()
{
    head = nullptr;
    tail = nullptr;
    cursor = nullptr;
    elementCount = 0;
}

// --- insertion ---------------------------------------------------------------

// Returns a fresh unlinked node holding the object, or null. A full count
// refuses too, so that it never overflows.
ObjectListNode* ObjectList::NewNode(void* object)
{
    if (elementCount == INT32_MAX)
        return nullptr;
    ObjectListNode* node = static_cast<ObjectListNode*>(Mem_ZeroMalloc(sizeof(ObjectListNode)));
    if (node)
        node->payload = object;
    return node;
}

bool ObjectList::Add(void* newObject)
{
    return AddTail(newObject);
}

// Links a new node holding the object in between before and after, either
// of them null at an end of the chain.
bool ObjectList::Link(void* object, ObjectListNode* before, ObjectListNode* after)
{
    ObjectListNode* node = NewNode(object);
    if (!node)
        return false;
    node->previous = before;
    node->next = after;
    (before ? before->next : head) = node;
    (after ? after->previous : tail) = node;
    ++elementCount;
    return true;
}

bool ObjectList::AddHead(void* newObject)
{
    return Link(newObject, nullptr, head);
}

bool ObjectList::AddTail(void* newObject)
{
    return Link(newObject, tail, nullptr);
}

// --- removal -----------------------------------------------------------------

// Takes the node out of the chain, moves the cursor past it and releases
// it; returns the object it held.
void* ObjectList::Unlink(ObjectListNode* node)
{
    void* object = node->payload;
    if (node->previous)
        node->previous->next = node->next;
    else
        head = node->next;
    if (node->next)
        node->next->previous = node->previous;
    else
        tail = node->previous;
    if (cursor == node)
        cursor = node->next;
    Mem_Free(node);
    --elementCount;
    return object;
}

// Returns the first node from the head that holds the object, or null.
ObjectListNode* ObjectList::Find(void* object)
{
    for (ObjectListNode* node = head; node; node = node->next) {
        if (node->payload == object)
            return node;
    }
    return nullptr;
}

bool ObjectList::Remove(void* object)
{
    ObjectListNode* node = Find(object);
    if (!node)
        return false;
    Unlink(node);
    return true;
}

void* ObjectList::RemoveHead()
{
    return head ? Unlink(head) : nullptr;
}

void* ObjectList::RemoveTail()
{
    return tail ? Unlink(tail) : nullptr;
}

void ObjectList::Clear(bool freeElementsMemory)
{
    ObjectListNode* node = head;
    while (node) {
        ObjectListNode* following = node->next;
        if (freeElementsMemory && node->payload)
            Mem_Free(node->payload);
        Mem_Free(node);
        node = following;
    }
    Init();
}

// --- queries and iteration ---------------------------------------------------

void* ObjectList::GetFirst()
{
    if (!head) {
        cursor = nullptr;
        return nullptr;
    }
    cursor = head->next;
    return head->payload;
}

void* ObjectList::GetNext()
{
    if (!cursor)
        return nullptr;
    void* object = cursor->payload;
    cursor = cursor->next;
    return object;
}

int ObjectList::CountElements()
{
    return elementCount;
}

// On success the cursor rests on the node found, so GetNext returns it next.
bool ObjectList::Contains(void* object)
{
    ObjectListNode* node = Find(object);
    if (!node)
        return false;
    cursor = node;
    return true;
}

bool ObjectList::IsEmpty()
{
    return !head;
}
