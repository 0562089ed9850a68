#ifndef TARN_TESTS_COMMON_LIST_PROBE_H
#define TARN_TESTS_COMMON_LIST_PROBE_H

// An ObjectList whose links can be inspected, and a check of its whole
// structure against the objects it should hold, in order.

#include "common/mem.h"
#include "common/object_list.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

class ProbedList : public ObjectList {
public:
    ObjectListNode* Head() const { return head; }
    ObjectListNode* Tail() const { return tail; }
    ObjectListNode* Cursor() const { return cursor; }

    // The nodes from head to tail, at most limit of them.
    std::vector<ObjectListNode*> Nodes(size_t limit = 100000) const
    {
        std::vector<ObjectListNode*> nodes;
        for (ObjectListNode* node = head; node && nodes.size() < limit; node = node->next)
            nodes.push_back(node);
        return nodes;
    }

    // Forgets the nodes with Init and releases them here, as their new owner.
    void InitAndRelease()
    {
        std::vector<ObjectListNode*> nodes = Nodes();
        Init();
        for (ObjectListNode* node : nodes)
            Mem_Free(node);
    }

    // Head, tail, count and the links in both directions agree with objects.
    ::testing::AssertionResult Holds(const std::vector<void*>& objects) const
    {
        std::vector<ObjectListNode*> nodes = Nodes(objects.size() + 1);
        if (nodes.size() != objects.size() || elementCount != static_cast<int>(objects.size()))
            return ::testing::AssertionFailure() << "holds " << nodes.size() << " nodes, counts "
                                                 << elementCount << ", expected " << objects.size();
        if (!head != !tail || !head != objects.empty())
            return ::testing::AssertionFailure() << "head and tail disagree about emptiness";
        ObjectListNode* previous = nullptr;
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i]->previous != previous)
                return ::testing::AssertionFailure() << "node " << i << " links back wrongly";
            if (nodes[i]->payload != objects[i])
                return ::testing::AssertionFailure() << "node " << i << " holds the wrong object";
            previous = nodes[i];
        }
        if (tail != previous)
            return ::testing::AssertionFailure() << "tail is not the last node";
        return ::testing::AssertionSuccess();
    }
};

#endif
