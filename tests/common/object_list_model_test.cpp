// The object list driven through long random sequences of operations and
// checked after every step against a plain vector model of its contents and
// cursor.

#include "list_probe.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

constexpr int kCursorAtEnd = -1;
constexpr int kDistinctObjects = 5;
constexpr int kStepsPerSeed = 4000;
constexpr int kSeeds = 8;

// What the list should hold, and the index of the node under its cursor.
struct Model {
    std::vector<void*> objects;
    int cursor = kCursorAtEnd;

    // Index of the first object equal to target, or -1.
    int Find(void* target) const
    {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i] == target)
                return static_cast<int>(i);
        }
        return -1;
    }

    // Takes out the object at index; a cursor on it moves to the following one.
    void* Erase(int index)
    {
        void* object = objects[index];
        objects.erase(objects.begin() + index);
        if (cursor > index)
            --cursor;
        if (cursor >= static_cast<int>(objects.size()))
            cursor = kCursorAtEnd;
        return object;
    }

    // Returns the object under the cursor and moves the cursor on.
    void* Next()
    {
        if (cursor == kCursorAtEnd)
            return nullptr;
        void* object = objects[cursor];
        cursor = cursor + 1 < static_cast<int>(objects.size()) ? cursor + 1 : kCursorAtEnd;
        return object;
    }
};

class RandomOperations {
public:
    explicit RandomOperations(unsigned seed) : random_(seed) {}

    // Runs one random operation on both the list and the model and checks that
    // their results agree.
    void Step()
    {
        int operation = Pick(0, 12);
        void* object = RandomObject();
        switch (operation) {
        case 0:
        case 1:
            ASSERT_TRUE(list_.Add(object));
            model_.objects.push_back(object);
            break;
        case 2:
            ASSERT_TRUE(list_.AddTail(object));
            model_.objects.push_back(object);
            break;
        case 3:
        case 4:
            ASSERT_TRUE(list_.AddHead(object));
            model_.objects.insert(model_.objects.begin(), object);
            if (model_.cursor != kCursorAtEnd)
                ++model_.cursor;
            break;
        case 5:
        case 6: {
            int index = model_.Find(object);
            ASSERT_EQ(list_.Remove(object), index >= 0);
            if (index >= 0)
                model_.Erase(index);
            break;
        }
        case 7:
            ASSERT_EQ(list_.RemoveHead(), model_.objects.empty() ? nullptr : model_.Erase(0));
            break;
        case 8:
            ASSERT_EQ(list_.RemoveTail(),
                      model_.objects.empty() ? nullptr : model_.Erase(static_cast<int>(model_.objects.size()) - 1));
            break;
        case 9:
            model_.cursor = model_.objects.empty() ? kCursorAtEnd : 0;
            ASSERT_EQ(list_.GetFirst(), model_.Next());
            break;
        case 10:
            ASSERT_EQ(list_.GetNext(), model_.Next());
            break;
        case 11: {
            int index = model_.Find(object);
            ASSERT_EQ(list_.Contains(object), index >= 0);
            if (index >= 0)
                model_.cursor = index;
            break;
        }
        default:
            EmptyRarely();
            break;
        }
    }

    // The list's structure and cursor agree with the model.
    void Check()
    {
        ASSERT_TRUE(list_.Holds(model_.objects));
        std::vector<ObjectListNode*> nodes = list_.Nodes();
        ObjectListNode* expected = model_.cursor == kCursorAtEnd ? nullptr : nodes[model_.cursor];
        ASSERT_EQ(list_.Cursor(), expected);
        ASSERT_EQ(list_.CountElements(), static_cast<int>(model_.objects.size()));
        ASSERT_EQ(list_.IsEmpty(), model_.objects.empty());
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    // One of a few objects, or null, so that objects repeat often.
    void* RandomObject()
    {
        int which = Pick(0, kDistinctObjects);
        return which == kDistinctObjects ? nullptr : &objects_[which];
    }

    // Empties the list now and then with Clear or Init, keeping it short.
    void EmptyRarely()
    {
        if (Pick(0, 7) != 0)
            return;
        if (Pick(0, 1) == 0)
            list_.Clear(false);
        else
            list_.InitAndRelease();
        model_ = Model();
    }

    std::mt19937 random_;
    int objects_[kDistinctObjects] = {};
    ProbedList list_;
    Model model_;
};

}  // namespace

TEST(ObjectListModelTest, LongRandomSequencesKeepLinksCountAndCursorRight)
{
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        RandomOperations run(seed);
        for (int step = 0; step < kStepsPerSeed; ++step) {
            SCOPED_TRACE(step);
            ASSERT_NO_FATAL_FAILURE(run.Step());
            ASSERT_NO_FATAL_FAILURE(run.Check());
        }
    }
}
