#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "cvcrt.h"

namespace {

struct ListDeleter {
    void operator()(ArrayList* list) const { ArrayList_Destroy(list); }
};
using ListPtr = std::unique_ptr<ArrayList, ListDeleter>;

std::array<int, 64> g_items{};
void* Item(int i) { return &g_items[static_cast<size_t>(i)]; }

TEST(ArrayList, GrowsByDoublingAndKeepsOrder) {
    ListPtr list(ArrayList_Create());
    EXPECT_EQ(ArrayList_GetCapacity(list.get()), 10);
    for (int i = 0; i < 10; ++i) ArrayList_Add(list.get(), Item(i));
    EXPECT_EQ(ArrayList_GetCapacity(list.get()), 10);
    ArrayList_Add(list.get(), Item(10));
    EXPECT_EQ(ArrayList_GetCapacity(list.get()), 20);
    for (int i = 11; i < 21; ++i) ArrayList_Add(list.get(), Item(i));
    EXPECT_EQ(ArrayList_GetCapacity(list.get()), 40);
    ASSERT_EQ(ArrayList_GetSize(list.get()), 21);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(ArrayList_Get(list.get(), i), Item(i)) << i;
}

TEST(ArrayList, OutOfRangeIndexesChangeNothing) {
    ListPtr list(ArrayList_Create());
    ArrayList_Add(list.get(), Item(0));
    EXPECT_EQ(ArrayList_Get(list.get(), -1), nullptr);
    EXPECT_EQ(ArrayList_Get(list.get(), 1), nullptr);
    EXPECT_EQ(ArrayList_Set(list.get(), 1, Item(5)), nullptr);
    EXPECT_EQ(ArrayList_RemoveIndex(list.get(), -1), nullptr);
    EXPECT_EQ(ArrayList_GetSize(list.get()), 1);
    EXPECT_EQ(ArrayList_Set(list.get(), 0, Item(5)), Item(0));
    EXPECT_EQ(ArrayList_Get(list.get(), 0), Item(5));
}

TEST(ArrayList, RemoveShiftsLaterItemsDown) {
    ListPtr list(ArrayList_Create());
    for (int i = 0; i < 4; ++i) ArrayList_Add(list.get(), Item(i));
    EXPECT_EQ(ArrayList_RemoveIndex(list.get(), 1), Item(1));
    ASSERT_EQ(ArrayList_GetSize(list.get()), 3);
    EXPECT_EQ(ArrayList_Get(list.get(), 1), Item(2));
    EXPECT_EQ(ArrayList_Get(list.get(), 2), Item(3));
}

TEST(ArrayList, RemoveDataRemovesAdjacentDuplicates) {
    ListPtr list(ArrayList_Create());
    for (int i : {0, 1, 1, 2, 1}) ArrayList_Add(list.get(), Item(i));
    ArrayList_RemoveData(list.get(), Item(1));
    ASSERT_EQ(ArrayList_GetSize(list.get()), 2);
    EXPECT_EQ(ArrayList_Get(list.get(), 0), Item(0));
    EXPECT_EQ(ArrayList_Get(list.get(), 1), Item(2));
}

TEST(ArrayList, ClearKeepsCapacity) {
    ListPtr list(ArrayList_Create());
    for (int i = 0; i < 11; ++i) ArrayList_Add(list.get(), Item(i));
    ArrayList_Clear(list.get());
    EXPECT_EQ(ArrayList_GetSize(list.get()), 0);
    EXPECT_EQ(ArrayList_GetCapacity(list.get()), 20);
    EXPECT_EQ(ArrayList_Get(list.get(), 0), nullptr);
}

TEST(ArrayList, CloneIsShallowAndSized) {
    ListPtr list(ArrayList_Create());
    for (int i = 0; i < 3; ++i) ArrayList_Add(list.get(), Item(i));
    ListPtr copy(ArrayList_Clone(list.get()));
    EXPECT_EQ(ArrayList_GetCapacity(copy.get()), 3);
    ArrayList_Add(copy.get(), Item(3));
    EXPECT_EQ(ArrayList_GetCapacity(copy.get()), 6);
    EXPECT_EQ(ArrayList_Get(copy.get(), 2), Item(2));
    EXPECT_EQ(ArrayList_GetSize(list.get()), 3);
}

TEST(ArrayList, CloneOfEmptyListCanGrow) {
    ListPtr empty(ArrayList_Create());
    ListPtr copy(ArrayList_Clone(empty.get()));
    EXPECT_GT(ArrayList_GetCapacity(copy.get()), 0);
    for (int i = 0; i < 12; ++i) ArrayList_Add(copy.get(), Item(i));
    EXPECT_EQ(ArrayList_GetSize(copy.get()), 12);
    EXPECT_EQ(ArrayList_Get(copy.get(), 11), Item(11));
}

}  // namespace
