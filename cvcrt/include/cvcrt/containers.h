/* ArrayList and Int32Map: pointer containers that never own what they point at.
 * None of them locks; a container shared between threads is guarded by its owner. */
#ifndef CVCRT_CONTAINERS_H
#define CVCRT_CONTAINERS_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

/* ---- ArrayList: growable array of untyped pointers ---------------------- */

typedef struct ArrayList ArrayList;

#define ARRAYLIST_INITIAL_CAPACITY 10

/* Null only when memory runs out. */
CRT_API ArrayList* ArrayList_Create(void);
/* Frees the list's own storage, never the items. Null is ignored. */
CRT_API void ArrayList_Destroy(ArrayList* list);
/* Shallow copy: capacity and size equal the source's size (capacity 10 for an empty source). */
CRT_API ArrayList* ArrayList_Clone(const ArrayList* list);
CRT_API int32_t ArrayList_GetCapacity(const ArrayList* list);
CRT_API int32_t ArrayList_GetSize(const ArrayList* list);
/* Size 0; capacity kept. */
CRT_API void ArrayList_Clear(ArrayList* list);
/* Appends, doubling the capacity when full. */
CRT_API void ArrayList_Add(ArrayList* list, void* item);
/* Null when index < 0 or index >= size. */
CRT_API void* ArrayList_Get(const ArrayList* list, int32_t index);
/* Returns the previous item; null and no change when index is out of range. */
CRT_API void* ArrayList_Set(ArrayList* list, int32_t index, void* item);
/* Returns the removed item; later items move down by one. */
CRT_API void* ArrayList_RemoveIndex(ArrayList* list, int32_t index);
/* Removes every slot holding this pointer. */
CRT_API void ArrayList_RemoveData(ArrayList* list, const void* item);

/* ---- Int32Map: non-negative 32-bit keys to untyped pointers -------------- */

typedef struct Int32Map Int32Map;

#define INT32MAP_BUCKET_COUNT 100
#define INT32MAP_ENTRY_LIST_CAPACITY 4096

/* Filled by Int32Map_GetEntries; at most 4096 entries, further entries are left out. */
typedef struct Int32MapEntryList {
    int32_t count;
    int32_t keys[INT32MAP_ENTRY_LIST_CAPACITY];
    void* values[INT32MAP_ENTRY_LIST_CAPACITY];
} Int32MapEntryList;

CRT_STATIC_ASSERT(offsetof(Int32MapEntryList, count) == 0, "Int32MapEntryList.count");
CRT_STATIC_ASSERT(offsetof(Int32MapEntryList, keys) == 4, "Int32MapEntryList.keys");
CRT_STATIC_ASSERT(offsetof(Int32MapEntryList, values) == 16392, "Int32MapEntryList.values");
CRT_STATIC_ASSERT(sizeof(Int32MapEntryList) == 49160, "Int32MapEntryList size");

CRT_API Int32Map* Int32Map_Create(void);
/* Frees the map's own storage, never the values. Null is ignored. */
CRT_API void Int32Map_Destroy(Int32Map* map);
CRT_API int32_t Int32Map_GetSize(const Int32Map* map);
/* 1 when present, 0 when absent or negative. */
CRT_API int Int32Map_ContainsInt32(const Int32Map* map, int32_t key);
/* Null when absent or negative (a stored null looks the same as absence). */
CRT_API void* Int32Map_Get(const Int32Map* map, int32_t key);
/* Returns the value replaced, or null for a new key; a negative key stores nothing. */
CRT_API void* Int32Map_Put(Int32Map* map, int32_t key, void* value);
/* Returns the removed value, or null. */
CRT_API void* Int32Map_Remove(Int32Map* map, int32_t key);
/* Lists entries by bucket (0 ... 99), each chain in insertion order. */
CRT_API void Int32Map_GetEntries(const Int32Map* map, Int32MapEntryList* entries);

#endif /* CVCRT_CONTAINERS_H */
