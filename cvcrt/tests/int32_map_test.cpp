#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "cvcrt.h"

namespace {

struct MapDeleter {
    void operator()(Int32Map* map) const { Int32Map_Destroy(map); }
};
using MapPtr = std::unique_ptr<Int32Map, MapDeleter>;

std::array<int, 8> g_values{};
void* Value(int i) { return &g_values[static_cast<size_t>(i)]; }

TEST(Int32Map, PutReplacesAndReturnsPrevious) {
    MapPtr map(Int32Map_Create());
    EXPECT_EQ(Int32Map_Put(map.get(), 7, Value(0)), nullptr);
    EXPECT_EQ(Int32Map_Put(map.get(), 7, Value(1)), Value(0));
    EXPECT_EQ(Int32Map_GetSize(map.get()), 1);
    EXPECT_EQ(Int32Map_Get(map.get(), 7), Value(1));
    EXPECT_EQ(Int32Map_Remove(map.get(), 7), Value(1));
    EXPECT_EQ(Int32Map_Remove(map.get(), 7), nullptr);
    EXPECT_EQ(Int32Map_GetSize(map.get()), 0);
    EXPECT_EQ(Int32Map_ContainsInt32(map.get(), 7), 0);
}

TEST(Int32Map, NegativeKeysStoreNothing) {
    MapPtr map(Int32Map_Create());
    EXPECT_EQ(Int32Map_Put(map.get(), -1, Value(0)), nullptr);
    EXPECT_EQ(Int32Map_GetSize(map.get()), 0);
    EXPECT_EQ(Int32Map_Get(map.get(), -1), nullptr);
    EXPECT_EQ(Int32Map_ContainsInt32(map.get(), -1), 0);
    EXPECT_EQ(Int32Map_Remove(map.get(), -1), nullptr);
}

TEST(Int32Map, EntriesListedByBucketThenChainOrder) {
    MapPtr map(Int32Map_Create());
    Int32Map_Put(map.get(), 5, Value(0));
    Int32Map_Put(map.get(), 105, Value(1));
    Int32Map_Put(map.get(), 205, Value(2));
    Int32Map_Put(map.get(), 99, Value(4));
    Int32Map_Put(map.get(), 4, Value(3));
    auto list = std::make_unique<Int32MapEntryList>();
    list->count = 77;
    Int32Map_GetEntries(map.get(), list.get());
    ASSERT_EQ(list->count, 5);
    const int32_t expected[] = {4, 5, 105, 205, 99};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list->keys[i], expected[i]) << i;
    EXPECT_EQ(list->values[3], Value(2));
    // Removing from the middle of a chain keeps the others in order.
    Int32Map_Remove(map.get(), 105);
    Int32Map_GetEntries(map.get(), list.get());
    ASSERT_EQ(list->count, 4);
    EXPECT_EQ(list->keys[1], 5);
    EXPECT_EQ(list->keys[2], 205);
}

TEST(Int32Map, EntryListStopsAtItsCapacity) {
    MapPtr map(Int32Map_Create());
    for (int32_t key = 0; key < INT32MAP_ENTRY_LIST_CAPACITY + 10; ++key) Int32Map_Put(map.get(), key, Value(0));
    auto list = std::make_unique<Int32MapEntryList>();
    Int32Map_GetEntries(map.get(), list.get());
    EXPECT_EQ(list->count, INT32MAP_ENTRY_LIST_CAPACITY);
    EXPECT_EQ(Int32Map_GetSize(map.get()), INT32MAP_ENTRY_LIST_CAPACITY + 10);
}

}  // namespace
