// Edge cases of the object list that random sequences do not reach: null
// objects, the cursor rules at the boundaries, release of nodes and objects,
// and node allocation failure.

#include "list_probe.h"
#include "mem_spy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class ObjectListTest : public ::testing::Test {
protected:
    void SetUp() override { memspy::Reset(); }
    void TearDown() override { memspy::Reset(); }

    static bool WasReleased(void* block)
    {
        return std::count(memspy::released.begin(), memspy::released.end(), block) == 1;
    }

    int a = 0;
    int b = 0;
    int c = 0;
};

}  // namespace

// --- iteration ---------------------------------------------------------------

TEST_F(ObjectListTest, IterationOfANewOrEmptyListYieldsNothing)
{
    ProbedList list;
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetFirst(), nullptr);
    EXPECT_EQ(list.Cursor(), nullptr);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.CountElements(), 0);
}

TEST_F(ObjectListTest, NullObjectIsCountedButLooksLikeTheEndOfIteration)
{
    ProbedList list;
    ASSERT_TRUE(list.Add(nullptr));
    ASSERT_TRUE(list.Add(&a));
    EXPECT_EQ(list.CountElements(), 2);
    EXPECT_FALSE(list.IsEmpty());
    EXPECT_EQ(list.GetFirst(), nullptr);
    EXPECT_EQ(list.GetNext(), &a);
    EXPECT_TRUE(list.Contains(nullptr));
    EXPECT_TRUE(list.Remove(nullptr));
    EXPECT_TRUE(list.Holds({&a}));
}

TEST_F(ObjectListTest, ContainsPlacesTheCursorOnTheObjectFound)
{
    ProbedList list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    ASSERT_TRUE(list.Contains(&b));
    EXPECT_EQ(list.GetNext(), &b);
    EXPECT_EQ(list.GetNext(), &c);
    EXPECT_EQ(list.GetNext(), nullptr);
}

TEST_F(ObjectListTest, AddingAfterTheEndDoesNotReviveTheIteration)
{
    ProbedList list;
    list.Add(&a);
    EXPECT_EQ(list.GetFirst(), &a);
    list.Add(&b);
    list.AddHead(&c);
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetFirst(), &c);
}

// --- removal -----------------------------------------------------------------

TEST_F(ObjectListTest, RemovingTheNodeUnderTheCursorMovesItToTheNextObject)
{
    ProbedList list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    list.Contains(&b);
    EXPECT_TRUE(list.Remove(&b));
    EXPECT_EQ(list.GetNext(), &c);

    list.GetFirst();
    list.Contains(&a);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(list.GetNext(), &c);

    list.Contains(&c);
    EXPECT_EQ(list.RemoveTail(), &c);
    EXPECT_EQ(list.Cursor(), nullptr);
    EXPECT_EQ(list.GetNext(), nullptr);
}

TEST_F(ObjectListTest, RemoveTakesOnlyTheCopyNearestTheHead)
{
    ProbedList list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&a);
    ObjectListNode* later = list.Tail();
    EXPECT_TRUE(list.Remove(&a));
    EXPECT_EQ(list.CountElements(), 2);
    EXPECT_TRUE(list.Holds({&b, &a}));
    EXPECT_EQ(list.Tail(), later);
}

TEST_F(ObjectListTest, SingleNodeEmptiedFromEitherEndLeavesAnEmptyList)
{
    ProbedList list;
    list.Add(&a);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_TRUE(list.Holds({}));
    EXPECT_TRUE(list.IsEmpty());

    list.Add(&b);
    EXPECT_EQ(list.RemoveTail(), &b);
    EXPECT_TRUE(list.Holds({}));
    EXPECT_TRUE(list.IsEmpty());
}

// --- releasing nodes and objects ---------------------------------------------

TEST_F(ObjectListTest, ClearWithReleaseFreesEveryStoredObjectButSkipsNull)
{
    void* first = Mem_Malloc(8);
    void* second = Mem_Strdup("second");
    ProbedList list;
    list.Add(first);
    list.Add(nullptr);
    list.Add(second);
    std::vector<ObjectListNode*> nodes = list.Nodes();
    list.GetFirst();

    memspy::recordReleases = true;
    list.Clear(true);
    EXPECT_TRUE(WasReleased(first));
    EXPECT_TRUE(WasReleased(second));
    EXPECT_FALSE(WasReleased(nullptr));
    for (ObjectListNode* node : nodes)
        EXPECT_TRUE(WasReleased(node));
    EXPECT_EQ(memspy::released.size(), 5u);
    EXPECT_TRUE(list.Holds({}));
    EXPECT_EQ(list.Cursor(), nullptr);
}

TEST_F(ObjectListTest, ClearWithoutReleaseAndTheDestructorFreeOnlyNodes)
{
    auto* list = new ProbedList;
    list->Add(&a);
    list->Add(&b);
    memspy::recordReleases = true;
    list->Clear(false);
    EXPECT_EQ(memspy::released.size(), 2u);
    EXPECT_TRUE(list->Holds({}));

    list->Add(&a);
    list->Add(&c);
    std::vector<ObjectListNode*> nodes = list->Nodes();
    memspy::released.clear();
    delete static_cast<IObjectContainer*>(list);
    EXPECT_EQ(memspy::released, std::vector<void*>(nodes.begin(), nodes.end()));
}

TEST_F(ObjectListTest, InitForgetsNodesWithoutReleasingThem)
{
    ProbedList list;
    list.Add(&a);
    list.Add(&b);
    list.GetFirst();
    std::vector<ObjectListNode*> nodes = list.Nodes();
    memspy::recordReleases = true;
    list.Init();
    EXPECT_TRUE(memspy::released.empty());
    EXPECT_TRUE(list.Holds({}));
    EXPECT_EQ(list.Cursor(), nullptr);
    for (ObjectListNode* node : nodes)
        Mem_Free(node);
}

// --- node allocation failure -------------------------------------------------

TEST_F(ObjectListTest, FailedNodeAllocationRefusesTheObjectAndChangesNothing)
{
    ProbedList list;
    list.Add(&a);
    list.Add(&b);
    list.GetFirst();
    memspy::failAllocations = true;
    EXPECT_FALSE(list.Add(&c));
    EXPECT_FALSE(list.AddTail(&c));
    EXPECT_FALSE(list.AddHead(&c));
    memspy::failAllocations = false;
    EXPECT_TRUE(list.Holds({&a, &b}));
    EXPECT_EQ(list.GetNext(), &b);
    EXPECT_TRUE(list.AddHead(&c));
    EXPECT_TRUE(list.Holds({&c, &a, &b}));
}
