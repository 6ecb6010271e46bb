/* StringMap and Config: ordered, case-insensitive text maps with typed getters and
 * a properties-file reader and writer. The two families behave the same; StringMap
 * keeps keys and values of up to 255 characters, Config up to 127. Longer text is cut.
 * Returned texts point into the entry and stay valid until that entry changes or goes.
 * None of them locks. */
#ifndef CVCRT_STRINGMAP_H
#define CVCRT_STRINGMAP_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

#define STRINGMAP_FIELD_SIZE 256 /* bytes per key and per value, terminator included */
#define CONFIG_FIELD_SIZE 128

typedef struct StringMap StringMap;
typedef struct Config Config;

/* ---- StringMap ----------------------------------------------------------- */

CRT_API StringMap* StringMap_Create(void);
CRT_API void StringMap_Destroy(StringMap* map);
CRT_API StringMap* StringMap_Clone(const StringMap* map);
CRT_API int32_t StringMap_GetSize(const StringMap* map);

/* Index access, 0 = oldest entry; null or no change when out of range. */
CRT_API const char* StringMap_GetEntryKey(const StringMap* map, int32_t index);
CRT_API const char* StringMap_GetEntryValue(const StringMap* map, int32_t index);
/* No change when the key is already present anywhere in the map. */
CRT_API void StringMap_SetEntry(StringMap* map, int32_t index, const char* key, const char* value);
CRT_API void StringMap_SetEntryKey(StringMap* map, int32_t index, const char* key);
CRT_API void StringMap_SetEntryValue(StringMap* map, int32_t index, const char* value);
CRT_API void StringMap_RemoveEntry(StringMap* map, int32_t index);
/* Present key: value overwritten in place; index == size appends; else inserted before index. */
CRT_API void StringMap_InsertEntry(StringMap* map, int32_t index, const char* key, const char* value);

/* Key access. */
CRT_API const char* StringMap_GetValue(const StringMap* map, const char* key);
CRT_API void StringMap_AddValue(StringMap* map, const char* key, const char* value);     /* keep first */
CRT_API void StringMap_SetValue(StringMap* map, const char* key, const char* value);     /* last wins, create */
CRT_API void StringMap_ReplaceValue(StringMap* map, const char* key, const char* value); /* last wins, never create */
CRT_API void StringMap_RemoveValue(StringMap* map, const char* key);
CRT_API void StringMap_RemoveAll(StringMap* map);
CRT_API int StringMap_ContainsKey(const StringMap* map, const char* key);
CRT_API int StringMap_ContainsValue(const StringMap* map, const char* value);
CRT_API int32_t StringMap_GetCountOfValue(const StringMap* map, const char* value);

/* Typed getters: the default when the key is absent or the value does not convert whole. */
CRT_API const char* StringMap_GetString(const StringMap* map, const char* key, const char* defaultValue);
CRT_API int32_t StringMap_GetInt32(const StringMap* map, const char* key, int32_t defaultValue);
CRT_API int64_t StringMap_GetInt64(const StringMap* map, const char* key, int64_t defaultValue);
CRT_API double StringMap_GetDouble(const StringMap* map, const char* key, double defaultValue);
/* "true" "t" "yes" "y" -> 1, "false" "f" "no" "n" -> 0 (any case), else the default. */
CRT_API int StringMap_GetBool(const StringMap* map, const char* key, int defaultValue);

/* 0 on success, -1 with a message in the buffer (when its length is non-zero). */
CRT_API int StringMap_AddFromPropertiesFile(StringMap* map, const char* path, char* message, size_t messageLength);
CRT_API int StringMap_SaveToPropertiesFile(const StringMap* map, const char* path, char* message, size_t messageLength);

/* ---- Config (same behaviour, shorter fields) ----------------------------- */

CRT_API Config* ConfigCreate(void);
CRT_API void ConfigDestroy(Config* map);
CRT_API Config* ConfigCopy(const Config* map);
CRT_API int32_t ConfigGetEntryCount(const Config* map);

CRT_API const char* ConfigGetEntryKey(const Config* map, int32_t index);
CRT_API const char* ConfigGetEntryValue(const Config* map, int32_t index);
CRT_API void ConfigSetEntry(Config* map, int32_t index, const char* key, const char* value);
CRT_API void ConfigSetEntryKey(Config* map, int32_t index, const char* key);
CRT_API void ConfigSetEntryValue(Config* map, int32_t index, const char* value);
CRT_API void ConfigRemoveEntry(Config* map, int32_t index);
CRT_API void ConfigInsertEntry(Config* map, int32_t index, const char* key, const char* value);

CRT_API const char* ConfigGetValue(const Config* map, const char* key);
CRT_API void ConfigAddValue(Config* map, const char* key, const char* value);
CRT_API void ConfigSetValue(Config* map, const char* key, const char* value);
CRT_API void ConfigReplaceValue(Config* map, const char* key, const char* value);
CRT_API void ConfigRemoveValue(Config* map, const char* key);
CRT_API void ConfigRemoveAll(Config* map);
CRT_API int ConfigContainsKey(const Config* map, const char* key);
CRT_API int ConfigContainsValue(const Config* map, const char* value);
CRT_API int32_t ConfigGetCountOfValue(const Config* map, const char* value);

CRT_API const char* ConfigGetString(const Config* map, const char* key, const char* defaultValue);
CRT_API int32_t ConfigGetInt32(const Config* map, const char* key, int32_t defaultValue);
CRT_API int64_t ConfigGetInt64(const Config* map, const char* key, int64_t defaultValue);
CRT_API double ConfigGetDouble(const Config* map, const char* key, double defaultValue);
CRT_API int ConfigGetBool(const Config* map, const char* key, int defaultValue);

CRT_API int ConfigAddFromPropertiesFile(Config* map, const char* path, char* message, size_t messageLength);
CRT_API int ConfigSaveToPropertiesFile(const Config* map, const char* path, char* message, size_t messageLength);

#endif /* CVCRT_STRINGMAP_H */
