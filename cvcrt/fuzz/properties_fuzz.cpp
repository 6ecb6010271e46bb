// Feeds arbitrary bytes to the properties-file reader of both map families, with
// roomy and tiny message buffers, through an in-memory file.
#include <cstdint>
#include <cstring>

#include "cvcrt.h"
#include "memory_file.h"

namespace {

// Every entry must be terminated within its field and findable by its own key.
template <typename Map, typename Size, typename Key, typename Value, typename Get>
void CheckEntries(const Map* map, Size size, Key key, Value value, Get get, size_t maxText) {
    for (int32_t i = 0; i < size(map); ++i) {
        const char* k = key(map, i);
        const char* v = value(map, i);
        if (!k || !v || std::strlen(k) > maxText || std::strlen(v) > maxText || get(map, k) != v) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) return 0;
    char message[256];
    char tiny[3];

    StringMap* map = StringMap_Create();
    StringMap_SetValue(map, "a", "preset");
    StringMap_AddFromPropertiesFile(map, file.path(), message, sizeof message);
    StringMap_AddFromPropertiesFile(map, file.path(), tiny, sizeof tiny);
    // Messages are always terminated within their buffers.
    if (!std::memchr(message, '\0', sizeof message) || !std::memchr(tiny, '\0', sizeof tiny)) __builtin_trap();
    CheckEntries(map, StringMap_GetSize, StringMap_GetEntryKey, StringMap_GetEntryValue, StringMap_GetValue, 255);
    StringMap_GetInt32(map, "a", 0);
    StringMap_GetDouble(map, "a", 0);
    StringMap_GetBool(map, "a", 0);
    StringMap_Destroy(map);

    Config* config = ConfigCreate();
    ConfigAddFromPropertiesFile(config, file.path(), message, sizeof message);
    ConfigAddFromPropertiesFile(config, file.path(), tiny, 1);
    if (tiny[0] != '\0') __builtin_trap();
    CheckEntries(config, ConfigGetEntryCount, ConfigGetEntryKey, ConfigGetEntryValue, ConfigGetValue, 127);
    ConfigDestroy(config);
    return 0;
}
