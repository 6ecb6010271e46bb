// The ordered, case-insensitive text map behind both StringMap and Config; the two
// families differ only in the size of their key and value fields.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <list>

#include "guard.h"
#include "text_compare.h"

namespace cvcrt {

template <size_t FieldSize>
class TextMap {
public:
    static constexpr size_t kMaxText = FieldSize - 1;  // longest key or value kept

    struct Entry {
        std::array<char, FieldSize> key{};
        std::array<char, FieldSize> value{};
    };

    int32_t Size() const { return static_cast<int32_t>(entries_.size()); }

    const char* EntryKey(int32_t index) const {
        auto it = At(index);
        return it == entries_.end() ? nullptr : it->key.data();
    }

    const char* EntryValue(int32_t index) const {
        auto it = At(index);
        return it == entries_.end() ? nullptr : it->value.data();
    }

    const char* Value(const char* key) const {
        auto it = Find(key);
        return it == entries_.end() ? nullptr : it->value.data();
    }

    bool ContainsKey(const char* key) const { return Find(key) != entries_.end(); }

    int32_t CountOfValue(const char* value) const {
        if (!value) return 0;
        int32_t count = 0;
        for (const Entry& e : entries_) count += Same(e.value.data(), value) ? 1 : 0;
        return count;
    }

    // A key present anywhere (this entry included) blocks the change.
    void SetEntry(int32_t index, const char* key, const char* value) {
        auto it = At(index);
        if (it == entries_.end() || !key || ContainsKey(key)) return;
        Store(it->key, key);
        Store(it->value, value);
    }

    void SetEntryKey(int32_t index, const char* key) {
        auto it = At(index);
        if (it == entries_.end() || !key || ContainsKey(key)) return;
        Store(it->key, key);
    }

    void SetEntryValue(int32_t index, const char* value) {
        auto it = At(index);
        if (it != entries_.end()) Store(it->value, value);
    }

    void RemoveEntry(int32_t index) {
        auto it = At(index);
        if (it != entries_.end()) entries_.erase(it);
    }

    void InsertEntry(int32_t index, const char* key, const char* value) {
        if (!key) return;
        if (auto it = Find(key); it != entries_.end()) {
            Store(it->value, value);
        } else if (index == Size()) {
            Insert(entries_.end(), key, value);
        } else if (auto at = At(index); at != entries_.end()) {
            Insert(at, key, value);
        }
    }

    void AddValue(const char* key, const char* value) {
        if (key && !ContainsKey(key)) Insert(entries_.end(), key, value);
    }

    void SetValue(const char* key, const char* value) {
        if (!key) return;
        if (auto it = Find(key); it != entries_.end())
            Store(it->value, value);
        else
            Insert(entries_.end(), key, value);
    }

    void ReplaceValue(const char* key, const char* value) {
        if (auto it = Find(key); it != entries_.end()) Store(it->value, value);
    }

    void RemoveValue(const char* key) {
        if (auto it = Find(key); it != entries_.end()) entries_.erase(it);
    }

    void RemoveAll() { entries_.clear(); }

    const std::list<Entry>& Entries() const { return entries_; }

private:
    using Iterator = typename std::list<Entry>::iterator;
    using ConstIterator = typename std::list<Entry>::const_iterator;

    // Keys are compared as they would be stored, so a text longer than the field
    // finds the entry it was cut to instead of creating a second one.
    static bool Same(const char* stored, const char* text) { return EqualsFolded(stored, text, kMaxText); }

    // Cuts to kMaxText characters and zero-fills the rest of the field; null stores "".
    // The text may be the field's own contents (a getter's result handed back).
    static void Store(std::array<char, FieldSize>& field, const char* text) {
        const size_t length = text ? strnlen(text, kMaxText) : 0;
        if (length) std::memmove(field.data(), text, length);
        std::fill(field.begin() + static_cast<std::ptrdiff_t>(length), field.end(), '\0');
    }

    Iterator At(int32_t index) {
        if (index < 0 || index >= Size()) return entries_.end();
        return std::next(entries_.begin(), index);
    }

    ConstIterator At(int32_t index) const {
        if (index < 0 || index >= Size()) return entries_.end();
        return std::next(entries_.begin(), index);
    }

    Iterator Find(const char* key) {
        if (!key) return entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (Same(it->key.data(), key)) return it;
        return entries_.end();
    }

    ConstIterator Find(const char* key) const {
        if (!key) return entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (Same(it->key.data(), key)) return it;
        return entries_.end();
    }

    // Out of memory leaves the map as it was.
    void Insert(Iterator before, const char* key, const char* value) {
        NoThrow([&] {
            Entry entry;
            Store(entry.key, key);
            Store(entry.value, value);
            entries_.insert(before, entry);
        });
    }

    std::list<Entry> entries_;
};

}  // namespace cvcrt
