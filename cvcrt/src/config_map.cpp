// Config: the exported C interface over TextMap with 128-byte fields.
#include <memory>

#include "cvcrt/stringmap.h"
#include "properties_file.h"
#include "text_convert.h"
#include "text_map.h"

struct Config : cvcrt::TextMap<CONFIG_FIELD_SIZE> {
    static constexpr const char* kFamilyName = "Configuration";
};

Config* ConfigCreate(void) {
    return cvcrt::NoThrow<Config*>(nullptr, [] { return std::make_unique<Config>().release(); });
}

void ConfigDestroy(Config* map) { std::unique_ptr<Config> owned(map); }

Config* ConfigCopy(const Config* map) {
    if (!map) return nullptr;
    return cvcrt::NoThrow<Config*>(nullptr, [map] { return std::make_unique<Config>(*map).release(); });
}

int32_t ConfigGetEntryCount(const Config* map) { return map ? map->Size() : 0; }

const char* ConfigGetEntryKey(const Config* map, int32_t index) { return map ? map->EntryKey(index) : nullptr; }

const char* ConfigGetEntryValue(const Config* map, int32_t index) {
    return map ? map->EntryValue(index) : nullptr;
}

void ConfigSetEntry(Config* map, int32_t index, const char* key, const char* value) {
    if (map) map->SetEntry(index, key, value);
}

void ConfigSetEntryKey(Config* map, int32_t index, const char* key) {
    if (map) map->SetEntryKey(index, key);
}

void ConfigSetEntryValue(Config* map, int32_t index, const char* value) {
    if (map) map->SetEntryValue(index, value);
}

void ConfigRemoveEntry(Config* map, int32_t index) {
    if (map) map->RemoveEntry(index);
}

void ConfigInsertEntry(Config* map, int32_t index, const char* key, const char* value) {
    if (map) map->InsertEntry(index, key, value);
}

const char* ConfigGetValue(const Config* map, const char* key) { return map ? map->Value(key) : nullptr; }

void ConfigAddValue(Config* map, const char* key, const char* value) {
    if (map) map->AddValue(key, value);
}

void ConfigSetValue(Config* map, const char* key, const char* value) {
    if (map) map->SetValue(key, value);
}

void ConfigReplaceValue(Config* map, const char* key, const char* value) {
    if (map) map->ReplaceValue(key, value);
}

void ConfigRemoveValue(Config* map, const char* key) {
    if (map) map->RemoveValue(key);
}

void ConfigRemoveAll(Config* map) {
    if (map) map->RemoveAll();
}

int ConfigContainsKey(const Config* map, const char* key) { return map && map->ContainsKey(key) ? 1 : 0; }

int ConfigContainsValue(const Config* map, const char* value) {
    return map && map->CountOfValue(value) > 0 ? 1 : 0;
}

int32_t ConfigGetCountOfValue(const Config* map, const char* value) {
    return map ? map->CountOfValue(value) : 0;
}

const char* ConfigGetString(const Config* map, const char* key, const char* defaultValue) {
    const char* value = ConfigGetValue(map, key);
    return value ? value : defaultValue;
}

int32_t ConfigGetInt32(const Config* map, const char* key, int32_t defaultValue) {
    return cvcrt::ToInt32(ConfigGetValue(map, key), defaultValue);
}

int64_t ConfigGetInt64(const Config* map, const char* key, int64_t defaultValue) {
    return cvcrt::ToInt64(ConfigGetValue(map, key), defaultValue);
}

double ConfigGetDouble(const Config* map, const char* key, double defaultValue) {
    return cvcrt::ToDouble(ConfigGetValue(map, key), defaultValue);
}

int ConfigGetBool(const Config* map, const char* key, int defaultValue) {
    return cvcrt::ToBool(ConfigGetValue(map, key), defaultValue);
}

int ConfigAddFromPropertiesFile(Config* map, const char* path, char* message, size_t messageLength) {
    if (!map) return -1;
    return cvcrt::NoThrow(-1, [&] { return cvcrt::AddFromPropertiesFile(*map, path, message, messageLength); });
}

int ConfigSaveToPropertiesFile(const Config* map, const char* path, char* message, size_t messageLength) {
    if (!map) return -1;
    return cvcrt::NoThrow(-1, [&] { return cvcrt::SaveToPropertiesFile(*map, path, message, messageLength); });
}
