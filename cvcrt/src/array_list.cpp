// ArrayList: a growable array of untyped pointers with an explicit capacity that
// doubles when full, so callers can rely on the 10 -> 20 -> 40 growth pattern.
#include <algorithm>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "cvcrt/containers.h"
#include "guard.h"

struct ArrayList {
    std::vector<void*> slots;  // slots.size() is the capacity; unused slots hold null
    int32_t size = 0;
};

namespace {

int32_t Capacity(const ArrayList& list) { return static_cast<int32_t>(list.slots.size()); }

bool InRange(const ArrayList* list, int32_t index) { return list && index >= 0 && index < list->size; }

// Moves later slots down over index and nulls the freed last slot.
void EraseSlot(ArrayList& list, int32_t index) {
    std::copy(list.slots.begin() + index + 1, list.slots.begin() + list.size, list.slots.begin() + index);
    --list.size;
    list.slots[static_cast<size_t>(list.size)] = nullptr;
}

}  // namespace

ArrayList* ArrayList_Create(void) {
    return cvcrt::NoThrow<ArrayList*>(nullptr, [] {
        auto list = std::make_unique<ArrayList>();
        list->slots.assign(ARRAYLIST_INITIAL_CAPACITY, nullptr);
        return list.release();
    });
}

void ArrayList_Destroy(ArrayList* list) { std::unique_ptr<ArrayList> owned(list); }

ArrayList* ArrayList_Clone(const ArrayList* list) {
    if (!list) return nullptr;
    return cvcrt::NoThrow<ArrayList*>(nullptr, [list] {
        auto copy = std::make_unique<ArrayList>();
        // An empty clone still needs room to double from.
        copy->slots.assign(list->slots.begin(), list->slots.begin() + list->size);
        if (copy->slots.empty()) copy->slots.assign(ARRAYLIST_INITIAL_CAPACITY, nullptr);
        copy->size = list->size;
        return copy.release();
    });
}

int32_t ArrayList_GetCapacity(const ArrayList* list) { return list ? Capacity(*list) : 0; }

int32_t ArrayList_GetSize(const ArrayList* list) { return list ? list->size : 0; }

void ArrayList_Clear(ArrayList* list) {
    if (list) list->size = 0;
}

void ArrayList_Add(ArrayList* list, void* item) {
    if (!list) return;
    cvcrt::NoThrow([list, item] {
        if (list->size == Capacity(*list)) {
            if (list->size == INT32_MAX) return;  // cannot be counted any further
            const int32_t grown = list->size > INT32_MAX / 2 ? INT32_MAX : std::max(1, list->size * 2);
            list->slots.resize(static_cast<size_t>(grown), nullptr);
        }
        list->slots[static_cast<size_t>(list->size++)] = item;
    });
}

void* ArrayList_Get(const ArrayList* list, int32_t index) {
    return InRange(list, index) ? list->slots[static_cast<size_t>(index)] : nullptr;
}

void* ArrayList_Set(ArrayList* list, int32_t index, void* item) {
    if (!InRange(list, index)) return nullptr;
    return std::exchange(list->slots[static_cast<size_t>(index)], item);
}

void* ArrayList_RemoveIndex(ArrayList* list, int32_t index) {
    if (!InRange(list, index)) return nullptr;
    void* removed = list->slots[static_cast<size_t>(index)];
    EraseSlot(*list, index);
    return removed;
}

void ArrayList_RemoveData(ArrayList* list, const void* item) {
    if (!list) return;
    for (int32_t i = 0; i < list->size;) {
        if (list->slots[static_cast<size_t>(i)] == item)
            EraseSlot(*list, i);  // stay on i: the next slot moved into it
        else
            ++i;
    }
}
