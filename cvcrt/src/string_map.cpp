// StringMap: the exported C interface over TextMap with 256-byte fields.
#include <memory>

#include "cvcrt/stringmap.h"
#include "properties_file.h"
#include "text_convert.h"
#include "text_map.h"

struct StringMap : cvcrt::TextMap<STRINGMAP_FIELD_SIZE> {
    static constexpr const char* kFamilyName = "StringMapuration";  // as it has always appeared in messages
};

StringMap* StringMap_Create(void) {
    return cvcrt::NoThrow<StringMap*>(nullptr, [] { return std::make_unique<StringMap>().release(); });
}

void StringMap_Destroy(StringMap* map) { std::unique_ptr<StringMap> owned(map); }

StringMap* StringMap_Clone(const StringMap* map) {
    if (!map) return nullptr;
    return cvcrt::NoThrow<StringMap*>(nullptr, [map] { return std::make_unique<StringMap>(*map).release(); });
}

int32_t StringMap_GetSize(const StringMap* map) { return map ? map->Size() : 0; }

const char* StringMap_GetEntryKey(const StringMap* map, int32_t index) { return map ? map->EntryKey(index) : nullptr; }

const char* StringMap_GetEntryValue(const StringMap* map, int32_t index) {
    return map ? map->EntryValue(index) : nullptr;
}

void StringMap_SetEntry(StringMap* map, int32_t index, const char* key, const char* value) {
    if (map) map->SetEntry(index, key, value);
}

void StringMap_SetEntryKey(StringMap* map, int32_t index, const char* key) {
    if (map) map->SetEntryKey(index, key);
}

void StringMap_SetEntryValue(StringMap* map, int32_t index, const char* value) {
    if (map) map->SetEntryValue(index, value);
}

void StringMap_RemoveEntry(StringMap* map, int32_t index) {
    if (map) map->RemoveEntry(index);
}

void StringMap_InsertEntry(StringMap* map, int32_t index, const char* key, const char* value) {
    if (map) map->InsertEntry(index, key, value);
}

const char* StringMap_GetValue(const StringMap* map, const char* key) { return map ? map->Value(key) : nullptr; }

void StringMap_AddValue(StringMap* map, const char* key, const char* value) {
    if (map) map->AddValue(key, value);
}

void StringMap_SetValue(StringMap* map, const char* key, const char* value) {
    if (map) map->SetValue(key, value);
}

void StringMap_ReplaceValue(StringMap* map, const char* key, const char* value) {
    if (map) map->ReplaceValue(key, value);
}

void StringMap_RemoveValue(StringMap* map, const char* key) {
    if (map) map->RemoveValue(key);
}

void StringMap_RemoveAll(StringMap* map) {
    if (map) map->RemoveAll();
}

int StringMap_ContainsKey(const StringMap* map, const char* key) { return map && map->ContainsKey(key) ? 1 : 0; }

int StringMap_ContainsValue(const StringMap* map, const char* value) {
    return map && map->CountOfValue(value) > 0 ? 1 : 0;
}

int32_t StringMap_GetCountOfValue(const StringMap* map, const char* value) {
    return map ? map->CountOfValue(value) : 0;
}

const char* StringMap_GetString(const StringMap* map, const char* key, const char* defaultValue) {
    const char* value = StringMap_GetValue(map, key);
    return value ? value : defaultValue;
}

int32_t StringMap_GetInt32(const StringMap* map, const char* key, int32_t defaultValue) {
    return cvcrt::ToInt32(StringMap_GetValue(map, key), defaultValue);
}

int64_t StringMap_GetInt64(const StringMap* map, const char* key, int64_t defaultValue) {
    return cvcrt::ToInt64(StringMap_GetValue(map, key), defaultValue);
}

double StringMap_GetDouble(const StringMap* map, const char* key, double defaultValue) {
    return cvcrt::ToDouble(StringMap_GetValue(map, key), defaultValue);
}

int StringMap_GetBool(const StringMap* map, const char* key, int defaultValue) {
    return cvcrt::ToBool(StringMap_GetValue(map, key), defaultValue);
}

int StringMap_AddFromPropertiesFile(StringMap* map, const char* path, char* message, size_t messageLength) {
    if (!map) return -1;
    return cvcrt::NoThrow(-1, [&] { return cvcrt::AddFromPropertiesFile(*map, path, message, messageLength); });
}

int StringMap_SaveToPropertiesFile(const StringMap* map, const char* path, char* message, size_t messageLength) {
    if (!map) return -1;
    return cvcrt::NoThrow(-1, [&] { return cvcrt::SaveToPropertiesFile(*map, path, message, messageLength); });
}
