// The bookkeeping half of a registry: entries in registration order plus an
// index by UID. No locking; the owning registry's mutex guards it. Also used on
// its own for nested collections (the services of one resource).
#pragma once

#include <corvane/cv_core.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane {

template <class Entry>
class EntryTable {
public:
    bool empty() const { return order_.empty(); }
    std::size_t size() const { return order_.size(); }

    // Null when no entry has this UID.
    Entry* find(CvUID uid) const
    {
        const auto found = index_.find(uid);
        return found == index_.end() ? nullptr : found->second;
    }

    // First entry, in registration order, for which matches(const Entry&) holds.
    template <class Matches>
    Entry* findFirst(Matches&& matches) const
    {
        for (const auto& entry : order_)
            if (matches(static_cast<const Entry&>(*entry))) return entry.get();
        return nullptr;
    }

    // Appends; the entry's UID must be set and unused.
    Entry& insert(std::unique_ptr<Entry> entry)
    {
        Entry& added = *entry;
        index_.emplace(added.uid, &added);
        order_.push_back(std::move(entry));
        return added;
    }

    // Takes the entry out of the table and hands it over; null when unknown.
    std::unique_ptr<Entry> remove(CvUID uid)
    {
        const auto position = std::find_if(order_.begin(), order_.end(),
                                           [uid](const std::unique_ptr<Entry>& entry) { return entry->uid == uid; });
        if (position == order_.end()) return nullptr;
        std::unique_ptr<Entry> removed = std::move(*position);
        order_.erase(position);
        index_.erase(uid);
        return removed;
    }

    // Oldest entry, taken out of the table; null when empty.
    std::unique_ptr<Entry> takeFirst()
    {
        if (order_.empty()) return nullptr;
        return remove(order_.front()->uid);
    }

    // Count and UIDs in registration order. Room is CV_UID_LIST_CAPACITY
    // identifiers: a larger table lists its oldest entries only.
    void fillList(CvUIDList* list) const
    {
        if (list == nullptr) return;
        const std::size_t count = std::min<std::size_t>(order_.size(), CV_UID_LIST_CAPACITY);
        for (std::size_t i = 0; i < count; ++i) list->uids[i] = order_[i]->uid;
        list->count = static_cast<int32_t>(count);
    }

    // fn(Entry&) for every entry in registration order; fn must not change the table.
    template <class Fn>
    void forEach(Fn&& fn) const
    {
        for (const auto& entry : order_) fn(*entry);
    }

private:
    std::vector<std::unique_ptr<Entry>> order_;
    std::unordered_map<CvUID, Entry*> index_;
};

}  // namespace corvane
