// Int32Map: 100 fixed buckets (key modulo 100), each an insertion-ordered chain.
// No rehashing: the map serves handle tables of tens to hundreds of entries.
#include <algorithm>
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "cvcrt/containers.h"
#include "guard.h"

namespace {

struct Node {
    int32_t key;
    void* value;
};

}  // namespace

struct Int32Map {
    std::array<std::vector<Node>, INT32MAP_BUCKET_COUNT> buckets;
    int32_t size = 0;
};

namespace {

// The chain of a non-negative key; for const and non-const maps alike.
template <typename Map>
auto& Bucket(Map& map, int32_t key) {
    return map.buckets[static_cast<size_t>(key % INT32MAP_BUCKET_COUNT)];
}

// The key's position in its chain (the chain's end when absent).
template <typename Chain>
auto Position(Chain& chain, int32_t key) {
    return std::find_if(chain.begin(), chain.end(), [key](const Node& n) { return n.key == key; });
}

// Null for a negative or absent key.
template <typename Map>
auto* Find(Map* map, int32_t key) {
    decltype(&map->buckets[0][0]) found = nullptr;
    if (!map || key < 0) return found;
    auto& chain = Bucket(*map, key);
    if (auto it = Position(chain, key); it != chain.end()) found = &*it;
    return found;
}

}  // namespace

Int32Map* Int32Map_Create(void) {
    return cvcrt::NoThrow<Int32Map*>(nullptr, [] { return std::make_unique<Int32Map>().release(); });
}

void Int32Map_Destroy(Int32Map* map) { std::unique_ptr<Int32Map> owned(map); }

int32_t Int32Map_GetSize(const Int32Map* map) { return map ? map->size : 0; }

int Int32Map_ContainsInt32(const Int32Map* map, int32_t key) { return Find(map, key) ? 1 : 0; }

void* Int32Map_Get(const Int32Map* map, int32_t key) {
    const Node* node = Find(map, key);
    return node ? node->value : nullptr;
}

void* Int32Map_Put(Int32Map* map, int32_t key, void* value) {
    if (!map || key < 0) return nullptr;
    if (Node* node = Find(map, key)) return std::exchange(node->value, value);
    cvcrt::NoThrow([&] {
        Bucket(*map, key).push_back(Node{key, value});
        ++map->size;
    });
    return nullptr;
}

void* Int32Map_Remove(Int32Map* map, int32_t key) {
    if (!map || key < 0) return nullptr;
    auto& chain = Bucket(*map, key);
    auto it = Position(chain, key);
    if (it == chain.end()) return nullptr;
    void* value = it->value;
    chain.erase(it);
    --map->size;
    return value;
}

void Int32Map_GetEntries(const Int32Map* map, Int32MapEntryList* entries) {
    if (!entries) return;
    entries->count = 0;
    if (!map) return;
    for (const auto& chain : map->buckets) {
        for (const Node& node : chain) {
            if (entries->count == INT32MAP_ENTRY_LIST_CAPACITY) return;  // the record is full
            entries->keys[entries->count] = node.key;
            entries->values[entries->count] = node.value;
            ++entries->count;
        }
    }
}
