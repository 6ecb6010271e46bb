#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "map_ptr.h"

namespace {

std::vector<std::string> Keys(const StringMap* map) {
    std::vector<std::string> keys;
    for (int32_t i = 0; i < StringMap_GetSize(map); ++i) keys.emplace_back(StringMap_GetEntryKey(map, i));
    return keys;
}

using Strings = std::vector<std::string>;

TEST(StringMap, KeysFoldCase) {
    StringMapPtr map(StringMap_Create());
    StringMap_SetValue(map.get(), "Port", "1");
    EXPECT_STREQ(StringMap_GetValue(map.get(), "PORT"), "1");
    StringMap_SetValue(map.get(), "port", "2");
    EXPECT_EQ(StringMap_GetSize(map.get()), 1);
    EXPECT_STREQ(StringMap_GetEntryKey(map.get(), 0), "Port");
    EXPECT_STREQ(StringMap_GetValue(map.get(), "pOrT"), "2");
    EXPECT_EQ(StringMap_GetValue(map.get(), "Por"), nullptr);
}

TEST(StringMap, AddSetReplaceTreatPresenceDifferently) {
    StringMapPtr map(StringMap_Create());
    StringMap_AddValue(map.get(), "a", "first");
    StringMap_AddValue(map.get(), "A", "second");
    EXPECT_STREQ(StringMap_GetValue(map.get(), "a"), "first");
    StringMap_ReplaceValue(map.get(), "b", "x");
    EXPECT_FALSE(StringMap_ContainsKey(map.get(), "b"));
    StringMap_ReplaceValue(map.get(), "a", "third");
    EXPECT_STREQ(StringMap_GetValue(map.get(), "a"), "third");
    StringMap_SetValue(map.get(), "b", "third");
    EXPECT_EQ(StringMap_GetCountOfValue(map.get(), "THIRD"), 2);
    EXPECT_TRUE(StringMap_ContainsValue(map.get(), "Third"));
    StringMap_RemoveValue(map.get(), "A");
    EXPECT_EQ(Keys(map.get()), Strings{"b"});
    StringMap_RemoveAll(map.get());
    EXPECT_EQ(StringMap_GetSize(map.get()), 0);
    StringMap_AddValue(map.get(), "c", "1");
    EXPECT_EQ(Keys(map.get()), Strings{"c"});
}

TEST(StringMap, InsertEntryPositions) {
    StringMapPtr map(StringMap_Create());
    StringMap_AddValue(map.get(), "b", "2");
    StringMap_InsertEntry(map.get(), 0, "a", "1");
    StringMap_InsertEntry(map.get(), 2, "c", "3");
    StringMap_InsertEntry(map.get(), 4, "d", "4");
    StringMap_InsertEntry(map.get(), -1, "e", "5");
    StringMap_InsertEntry(map.get(), 1, "x", "9");
    StringMap_InsertEntry(map.get(), 0, "C", "33");  // present: value changes where it stands
    EXPECT_EQ(Keys(map.get()), (Strings{"a", "x", "b", "c"}));
    EXPECT_STREQ(StringMap_GetEntryValue(map.get(), 3), "33");
}

TEST(StringMap, SetEntryRefusesAnyPresentKey) {
    StringMapPtr map(StringMap_Create());
    StringMap_AddValue(map.get(), "a", "1");
    StringMap_AddValue(map.get(), "b", "2");
    StringMap_SetEntry(map.get(), 0, "A", "changed");  // its own key counts as present
    StringMap_SetEntryKey(map.get(), 0, "B");
    EXPECT_EQ(Keys(map.get()), (Strings{"a", "b"}));
    EXPECT_STREQ(StringMap_GetEntryValue(map.get(), 0), "1");
    StringMap_SetEntry(map.get(), 1, "c", "3");
    StringMap_SetEntryKey(map.get(), 0, "z");
    StringMap_SetEntryValue(map.get(), 0, "26");
    StringMap_SetEntryValue(map.get(), 2, "out of range");
    EXPECT_EQ(Keys(map.get()), (Strings{"z", "c"}));
    EXPECT_STREQ(StringMap_GetValue(map.get(), "z"), "26");
    EXPECT_STREQ(StringMap_GetValue(map.get(), "c"), "3");
    StringMap_RemoveEntry(map.get(), 5);
    StringMap_RemoveEntry(map.get(), 0);
    EXPECT_EQ(Keys(map.get()), Strings{"c"});
    EXPECT_EQ(StringMap_GetEntryKey(map.get(), 1), nullptr);
}

TEST(StringMap, LongTextIsCutAndStillFindsItsEntry) {
    StringMapPtr map(StringMap_Create());
    const std::string longKey(300, 'k');
    StringMap_SetValue(map.get(), longKey.c_str(), std::string(300, 'v').c_str());
    StringMap_SetValue(map.get(), longKey.c_str(), "short");
    EXPECT_EQ(StringMap_GetSize(map.get()), 1);
    EXPECT_EQ(std::string(StringMap_GetEntryKey(map.get(), 0)), std::string(255, 'k'));
    EXPECT_STREQ(StringMap_GetValue(map.get(), std::string(255, 'K').c_str()), "short");
    // A value handed back from a getter may be stored again.
    StringMap_SetEntryValue(map.get(), 0, StringMap_GetEntryValue(map.get(), 0));
    EXPECT_STREQ(StringMap_GetEntryValue(map.get(), 0), "short");
}

TEST(StringMap, TypedGetters) {
    StringMapPtr map(StringMap_Create());
    StringMap_SetValue(map.get(), "n", "  -42");
    StringMap_SetValue(map.get(), "junk", "12abc");
    StringMap_SetValue(map.get(), "empty", "");
    StringMap_SetValue(map.get(), "big", "99999999999");
    StringMap_SetValue(map.get(), "d", "2.5e1");
    StringMap_SetValue(map.get(), "yes", "YES");
    StringMap_SetValue(map.get(), "f", "f");
    StringMap_SetValue(map.get(), "zero", "0");
    EXPECT_EQ(StringMap_GetInt32(map.get(), "n", 7), -42);
    EXPECT_EQ(StringMap_GetInt32(map.get(), "junk", 7), 7);
    EXPECT_EQ(StringMap_GetInt32(map.get(), "empty", 7), 0);
    EXPECT_EQ(StringMap_GetInt32(map.get(), "missing", 7), 7);
    EXPECT_EQ(StringMap_GetInt32(map.get(), "big", 7), INT32_MAX);
    EXPECT_EQ(StringMap_GetInt64(map.get(), "big", 7), 99999999999LL);
    EXPECT_EQ(StringMap_GetInt64(map.get(), "junk", 7), 7);
    EXPECT_DOUBLE_EQ(StringMap_GetDouble(map.get(), "d", 1.0), 25.0);
    EXPECT_DOUBLE_EQ(StringMap_GetDouble(map.get(), "junk", 1.5), 1.5);
    EXPECT_EQ(StringMap_GetBool(map.get(), "yes", 5), 1);
    EXPECT_EQ(StringMap_GetBool(map.get(), "f", 5), 0);
    EXPECT_EQ(StringMap_GetBool(map.get(), "zero", 5), 5);
    EXPECT_EQ(StringMap_GetBool(map.get(), "n", 5), 5);
    EXPECT_STREQ(StringMap_GetString(map.get(), "yes", "dflt"), "YES");
    const char* fallback = "dflt";
    EXPECT_EQ(StringMap_GetString(map.get(), "missing", fallback), fallback);
}

TEST(StringMap, CloneKeepsOrderAndIsIndependent) {
    StringMapPtr map(StringMap_Create());
    for (const char* key : {"z", "a", "m"}) StringMap_AddValue(map.get(), key, key);
    StringMapPtr copy(StringMap_Clone(map.get()));
    StringMap_SetValue(map.get(), "a", "changed");
    EXPECT_EQ(Keys(copy.get()), (Strings{"z", "a", "m"}));
    EXPECT_STREQ(StringMap_GetValue(copy.get(), "a"), "a");
}

TEST(Config, UsesShorterFieldsAndItsOwnNames) {
    ConfigPtr map(ConfigCreate());
    ConfigSetValue(map.get(), std::string(200, 'k').c_str(), std::string(200, 'v').c_str());
    ASSERT_EQ(ConfigGetEntryCount(map.get()), 1);
    EXPECT_EQ(std::string(ConfigGetEntryKey(map.get(), 0)), std::string(127, 'k'));
    EXPECT_EQ(std::string(ConfigGetEntryValue(map.get(), 0)), std::string(127, 'v'));
    ConfigSetValue(map.get(), "Timeout", " 30");
    ConfigPtr copy(ConfigCopy(map.get()));
    EXPECT_EQ(ConfigGetInt32(copy.get(), "TIMEOUT", 0), 30);
    EXPECT_EQ(ConfigGetEntryCount(copy.get()), 2);
}

}  // namespace
