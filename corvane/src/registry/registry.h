// The discipline every registry of the core follows (plug-ins, bridges, servers,
// machines, machine services, resources).
//
//  * One non-recursive mutex, constant-initialised, so every call works (and
//    fails as uninitialised) before CvInitialize. It is held only for
//    bookkeeping: owners' functions (bridge, server, service, plug-in code) run
//    without it, guarded by counts.
//  * Activity count: -1 while the manager is uninitialised, otherwise the number
//    of calls that use one of its entries outside the mutex. Shut-down waits for 0.
//  * Pending count: submitted commands not yet reported complete (only the
//    machine, machine service and resource managers raise it). Shut-down waits
//    for 0.
//  * Entries (RegistryEntry heads) in registration order with an index by UID.
//    Entry busy count: -1 while being disposed, else calls in flight on it.
//    Entry pending count: its submitted commands outstanding. Disposal waits
//    for both to reach 0, polling every 250 microseconds.
//
// Typical use, one global per manager:
//
//   constinit NeverDestroyed<Registry<BridgeEntry>> g_bridges{kBridgeMessages};
//   int CvBridge_GetInfo(CvUID uid, CvBridgeInfo* info, CvError* error) {
//       return g_bridges->copyInfo(uid, info, sizeof *info, error,
//                                  [](const BridgeEntry& b) { return &b.descriptor.info; });
//   }
//
// Operations that take a `const Lock&` / `Lock&` must be called with the lock
// returned by lock(); the ones without it take the mutex themselves.
//
// Recipes for the places where a manager departs from the plain calls:
//  * Work under the mutex across several steps (a machine created while the
//    bridge manager fills its descriptor; lock order machine, then bridge):
//      auto held = g->lock();
//      if (!g->requireInitialized(held, error)) return 0;
//      auto entry = ...; entry->uid = CvNextUID();
//      ...                                  // anything that must run locked
//      g->entries(held).insert(std::move(entry));
//  * A call-out on something not yet in the table (a plug-in's load entry
//    point): g->callOut(held, {}, {}, error, [&] { return load(...); }) keeps
//    shut-down waiting while it runs; the lock is held again afterwards.
//  * Two levels (the services of a resource): keep an EntryTable inside the
//    parent entry, raise {&parent->busy, &child->busy} in callOut, and use
//    disposeWhenIdle with DisposalTarget{child, {&parent->busy}}.
#pragma once

#include <corvane.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "entry_table.h"

namespace corvane {

// Head of every registry entry; managers derive their entries from it.
struct RegistryEntry {
    CvUID uid = CV_UID_NONE;
    int32_t busy = 0;     // -1 while being disposed, else calls in flight on the entry
    int32_t pending = 0;  // submitted commands outstanding (where the manager keeps them)
};

// The exact texts of one manager's messages.
struct RegistryMessages {
    const char* uninitialized;   // code 2, no argument
    const char* notFound;        // code 5, one %d: the UID
    const char* beingDisposed;   // code 2, one %d: the UID
    const char* disposeFailure;  // logged at level 1 during shut-down: %d UID, %s name, %s error message
    // Logged at level 1 (+ " when doing command complete notify") for a notice
    // that finds nothing outstanding; one %d, the UID. Only managers that call
    // completeCommand() need it.
    const char* noneOutstanding = nullptr;
};

// How long disposal and shut-down sleep between looks at the counts.
inline constexpr int64_t kRegistryPollMicroseconds = 250;

// Byte-wise, case-sensitive comparison of a fixed-width descriptor field (which
// need not be terminated when full) with a text: the lookups by name.
template <std::size_t N>
bool FieldEquals(const char (&field)[N], const char* text)
{
    return text != nullptr && std::strncmp(field, text, N) == 0;
}

// Calls the dispose function of a registered descriptor (bridge, machine,
// server, resource or service) with its user data; a descriptor without one has
// nothing to release.
template <class Descriptor>
int CallDispose(const Descriptor& descriptor, CvError* error)
{
    if (descriptor.dispose == nullptr) return CvSetNoThreadError(error);
    return descriptor.dispose(descriptor.userData, error);
}

// Formatting of the table texts, which are not literals (registry.cpp).
int RegistryFail(CvError* error, int code, const char* text, CvUID uid);
void RegistryLogNotice(const char* text, CvUID uid);  // text + " when doing command complete notify", level 1
void RegistryLogDisposeFailure(const char* text, CvUID uid, const char* name, const CvError& error);

// Up to four counts raised and lowered together around a call-out (for example
// the busy counts of a resource and of one of its services).
class CountSet {
public:
    CountSet() = default;
    CountSet(std::initializer_list<int32_t*> counts)
    {
        for (int32_t* count : counts)
            if (size_ < counts_.size()) counts_[size_++] = count;
    }
    void add(int32_t delta) const
    {
        for (std::size_t i = 0; i < size_; ++i) *counts_[i] += delta;
    }

private:
    std::array<int32_t*, 4> counts_{};
    std::size_t size_ = 0;
};

// What one round of a disposal loop found: the entry to dispose of and further
// counts to hold raised while its dispose function runs.
template <class Entry>
struct DisposalTarget {
    Entry* entry = nullptr;  // null: the lookup failed and filled the error record
    CountSet alsoBusy;
};

template <class Entry>
class Registry {
public:
    using Lock = std::unique_lock<std::mutex>;
    using Table = EntryTable<Entry>;

    constexpr explicit Registry(const RegistryMessages& messages) : messages_(messages) {}
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    const RegistryMessages& messages() const { return messages_; }

    // ---- Start and shut-down ---------------------------------------------

    // Starts the manager empty (activity and pending 0). Nothing happens when it
    // already runs, so a second start cannot orphan registered entries.
    void initialize()
    {
        Lock held(mutex_);
        if (activity_ >= 0) return;
        table_.emplace();
        activity_ = 0;
        pending_ = 0;
    }

    // Waits until no call is out and nothing is pending, marks the manager
    // uninitialised (every new call fails), then hands each entry, oldest first,
    // to disposeEntry(Entry&) without the lock and frees it whatever happened.
    // disposeEntry calls the owner's dispose function and logs a failure (see
    // logDisposeFailure). Fails only when the manager is already uninitialised.
    template <class DisposeEntry>
    int uninitialize(CvError* error, DisposeEntry&& disposeEntry)
    {
        Lock held(mutex_);
        for (;;) {
            if (activity_ < 0) return failUninitialized(error);
            if (activity_ == 0 && pending_ == 0) break;
            held.unlock();
            CrtSleepMicro(kRegistryPollMicroseconds);
            held.lock();
        }
        activity_ = -1;
        // The table leaves the registry at once: a new initialize() during the
        // sweep starts from a fresh table and never sees these entries.
        Table doomed = std::move(*table_);
        table_.reset();
        held.unlock();
        while (std::unique_ptr<Entry> entry = doomed.takeFirst()) disposeEntry(*entry);
        return CvSetNoThreadError(error);
    }

    // ---- The mutex and checks under it -----------------------------------

    Lock lock() { return Lock(mutex_); }

    bool isInitialized(const Lock&) const { return activity_ >= 0; }

    // False with the uninitialised message (code 2) when the manager is down.
    bool requireInitialized(const Lock&, CvError* error) const
    {
        if (activity_ >= 0) return true;
        failUninitialized(error);
        return false;
    }

    // The entry with this UID; null with the uninitialised (code 2), not found
    // (code 5) or being disposed (code 2) message.
    Entry* find(const Lock& held, CvUID uid, CvError* error) const
    {
        if (!requireInitialized(held, error)) return nullptr;
        Entry* entry = table_->find(uid);
        if (entry == nullptr) {
            failNotFound(error, uid);
            return nullptr;
        }
        if (entry->busy < 0) {
            failBeingDisposed(error, uid);
            return nullptr;
        }
        return entry;
    }

    // The entries; only while initialised.
    Table& entries(const Lock&) { return *table_; }
    int32_t& activity(const Lock&) { return activity_; }
    int32_t& pending(const Lock&) { return pending_; }

    // ---- Calling out to an owner -----------------------------------------

    // Runs call() -> int with the mutex released while the call counts as in
    // flight: the activity count and the `busy` counts are raised around it.
    // The `pending` counts are raised before the call and stay raised when it
    // returns non-zero (an accepted submit; the completion notice lowers them),
    // else they are taken back. The error record is cleared before the call and
    // the owner's result is returned unchanged. The lock is held again on return.
    template <class Call>
    int callOut(Lock& held, CountSet busy, CountSet pendingCounts, CvError* error, Call&& call)
    {
        ++activity_;
        busy.add(1);
        pendingCounts.add(1);
        CvSetNoThreadError(error);
        held.unlock();
        const int result = call();
        held.lock();
        --activity_;
        busy.add(-1);
        if (result == 0) pendingCounts.add(-1);
        return result;
    }

    // Looks the entry up and runs call(Entry&) -> int outside the mutex.
    template <class Call>
    int call(CvUID uid, CvError* error, Call&& call)
    {
        Lock held(mutex_);
        Entry* entry = find(held, uid, error);
        if (entry == nullptr) return 0;
        return callOut(held, {&entry->busy}, {}, error, [&] { return call(*entry); });
    }

    // Like call(), for a submit: the entry's and the manager's pending counts
    // stay raised when the owner accepts the command.
    template <class Call>
    int submit(CvUID uid, CvError* error, Call&& call)
    {
        Lock held(mutex_);
        Entry* entry = find(held, uid, error);
        if (entry == nullptr) return 0;
        return callOut(held, {&entry->busy}, {&entry->pending, &pending_}, error, [&] { return call(*entry); });
    }

    // Completion notice of a submitted command: lowers the entry's and the
    // manager's pending counts. When the manager is down, the entry unknown or
    // being disposed, or nothing of it is outstanding, logs the matching message
    // + " when doing command complete notify" at level 1 and changes nothing: a
    // count driven below 0 would keep disposal, which waits for 0, waiting forever.
    void completeCommand(CvUID uid)
    {
        Lock held(mutex_);
        Entry* entry = findForNotice(held, uid);
        if (entry == nullptr) return;
        if (entry->pending <= 0) {
            if (messages_.noneOutstanding != nullptr) RegistryLogNotice(messages_.noneOutstanding, uid);
            return;
        }
        --entry->pending;
        --pending_;
    }

    // The lookup of completeCommand, for managers with nested entries.
    Entry* findForNotice(const Lock&, CvUID uid) const
    {
        if (activity_ < 0) {
            RegistryLogNotice(messages_.uninitialized, uid);
            return nullptr;
        }
        Entry* entry = table_->find(uid);
        if (entry == nullptr) {
            RegistryLogNotice(messages_.notFound, uid);
            return nullptr;
        }
        if (entry->busy < 0) {
            RegistryLogNotice(messages_.beingDisposed, uid);
            return nullptr;
        }
        return entry;
    }

    // ---- Bookkeeping under the mutex -------------------------------------

    // Copies `size` bytes from source(const Entry&) -> const void* into out; on
    // failure out is zero-filled.
    template <class Source>
    int copyInfo(CvUID uid, void* out, std::size_t size, CvError* error, Source&& source)
    {
        Lock held(mutex_);
        const Entry* entry = find(held, uid, error);
        if (entry == nullptr) {
            if (out != nullptr) std::memset(out, 0, size);
            return 0;
        }
        if (out != nullptr) std::memcpy(out, source(*entry), size);
        return CvSetNoThreadError(error);
    }

    // Count and UIDs in registration order (at most CV_UID_LIST_CAPACITY).
    int list(CvUIDList* list, CvError* error)
    {
        Lock held(mutex_);
        if (!requireInitialized(held, error)) {
            if (list != nullptr) list->count = 0;
            return 0;
        }
        table_->fillList(list);
        return CvSetNoThreadError(error);
    }

    // UID of the first entry, in registration order, for which
    // matches(const Entry&) holds; CV_UID_NONE (and success) when none does.
    // `uninitializedMessage` replaces the manager's text where a lookup has its own.
    template <class Matches>
    int lookup(CvUID* out, CvError* error, Matches&& matches, const char* uninitializedMessage = nullptr)
    {
        if (out != nullptr) *out = CV_UID_NONE;
        Lock held(mutex_);
        if (activity_ < 0)
            return RegistryFail(error, CV_ERROR_FAILED,
                                uninitializedMessage ? uninitializedMessage : messages_.uninitialized, CV_UID_NONE);
        const Entry* entry = table_->findFirst(std::forward<Matches>(matches));
        if (out != nullptr && entry != nullptr) *out = entry->uid;
        return CvSetNoThreadError(error);
    }

    // Registers the entry (the descriptor already copied into it) under a fresh
    // UID with counts 0. Under the mutex, check(const Table&, CvError*) -> bool
    // may refuse it (duplicates) and then registered(Entry&) runs once it is in
    // the table (registration notifications). Returns the UID with the error
    // cleared, or CV_UID_NONE with the error filled. The mutex is released on
    // return, so the caller logs and signals events after it.
    template <class Check, class Registered>
    CvUID add(std::unique_ptr<Entry> entry, CvError* error, Check&& check, Registered&& registered)
    {
        Lock held(mutex_);
        if (!requireInitialized(held, error)) return CV_UID_NONE;
        if (!check(static_cast<const Table&>(*table_), error)) return CV_UID_NONE;
        entry->uid = CvNextUID();
        entry->busy = 0;
        entry->pending = 0;
        Entry& added = table_->insert(std::move(entry));
        registered(added);
        CvSetNoThreadError(error);
        return added.uid;
    }

    CvUID add(std::unique_ptr<Entry> entry, CvError* error)
    {
        return add(
            std::move(entry), error, [](const Table&, CvError*) { return true; }, [](Entry&) {});
    }

    // ---- Disposal --------------------------------------------------------

    // The unregister loop. Each round takes the mutex and calls
    // find(Lock&, CvError*) -> DisposalTarget<T>; a null entry ends the loop
    // with its error. While the entry is busy or has pending commands the round
    // releases the mutex, sleeps 250 us and starts again. Otherwise the entry is
    // marked being disposed (busy -1), the activity count and target.alsoBusy
    // are raised and dispose(T&, CvError*) -> int runs without the mutex.
    // Success: detach(Lock&, T&) -> std::unique_ptr<T> takes it out of its table
    // under the mutex and the entry is returned to the caller (who logs, signals
    // and lets it go). Failure: busy goes back to 0, the entry stays registered
    // and usable, null is returned with the owner's error.
    template <class Find, class Dispose, class Detach>
    auto disposeWhenIdle(CvError* error, Find&& find, Dispose&& dispose, Detach&& detach)
    {
        using Target = decltype(find(std::declval<Lock&>(), error));
        using Item = std::remove_pointer_t<decltype(Target::entry)>;
        for (;;) {
            Lock held(mutex_);
            Target target = find(held, error);
            if (target.entry == nullptr) return std::unique_ptr<Item>();
            Item& item = *target.entry;
            if (item.busy == 0 && item.pending == 0) {
                ++activity_;
                target.alsoBusy.add(1);
                item.busy = -1;
                held.unlock();
                const int disposed = dispose(item, error);
                held.lock();
                --activity_;
                target.alsoBusy.add(-1);
                if (disposed == 0) {
                    item.busy = 0;
                    return std::unique_ptr<Item>();
                }
                return std::unique_ptr<Item>(detach(held, item));
            }
            held.unlock();
            CrtSleepMicro(kRegistryPollMicroseconds);
        }
    }

    // Unregisters one top-level entry with dispose(Entry&, CvError*) -> int;
    // see disposeWhenIdle. The error record is left as dispose left it.
    template <class Dispose>
    std::unique_ptr<Entry> unregister(CvUID uid, CvError* error, Dispose&& dispose)
    {
        return disposeWhenIdle(
            error, [&](Lock& held, CvError* err) { return DisposalTarget<Entry>{find(held, uid, err), {}}; },
            std::forward<Dispose>(dispose),
            [this](Lock& held, Entry& entry) { return entries(held).remove(entry.uid); });
    }

    // ---- Messages --------------------------------------------------------

    int failUninitialized(CvError* error) const
    {
        return RegistryFail(error, CV_ERROR_FAILED, messages_.uninitialized, CV_UID_NONE);
    }
    int failNotFound(CvError* error, CvUID uid) const
    {
        return RegistryFail(error, CV_ERROR_NOT_FOUND, messages_.notFound, uid);
    }
    int failBeingDisposed(CvError* error, CvUID uid) const
    {
        return RegistryFail(error, CV_ERROR_FAILED, messages_.beingDisposed, uid);
    }
    // Level-1 line for a dispose function that failed during shut-down; name is
    // the entry's terminated name (a machine's URL, a service's type).
    void logDisposeFailure(CvUID uid, const char* name, const CvError& error) const
    {
        RegistryLogDisposeFailure(messages_.disposeFailure, uid, name, error);
    }

    // The usual body of uninitialize()'s disposeEntry: runs dispose(CvError*)
    // -> int with a record of its own and logs a failure. True on success.
    template <class Dispose>
    bool disposeOrLog(const Entry& entry, const char* name, Dispose&& dispose) const
    {
        CvError error;
        CvSetNoThreadError(&error);
        if (dispose(&error) != 0) return true;
        logDisposeFailure(entry.uid, name, error);
        return false;
    }

private:
    RegistryMessages messages_;
    mutable std::mutex mutex_;
    int32_t activity_ = -1;
    int32_t pending_ = 0;
    std::optional<Table> table_;
};

}  // namespace corvane
