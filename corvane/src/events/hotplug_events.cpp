// Hot-plug events: machine services, resources and resource services that came
// or went. Signals queue the event on the work queue; the work thread delivers
// it to every listener under the hot-plug mutex, so events arrive one at a time
// and in the order they were signalled.
#include <corvane.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "core/never_destroyed.h"

namespace {

using corvane::NeverDestroyed;

// One addition of a listener; a listener added twice has two entries and is
// called twice. The serial tells the entries apart while events are delivered.
struct Entry {
    CvHotplugListener* listener;
    unsigned long long serial;
};

struct HotplugListeners {
    // Recursive: a listener may add or remove listeners, and signal events.
    std::recursive_mutex mutex;
    // Exists between Initialize and Uninitialize.
    std::optional<std::vector<Entry>> listeners;
    unsigned long long nextSerial = 0;
};

NeverDestroyed<HotplugListeners> g_hotplug;

enum class EventKind {
    MachineServiceAdded,
    MachineServiceRemoved,
    ResourceAdded,
    ResourceRemoved,
    ResourceServiceAdded,
    ResourceServiceRemoved,
};

struct HotplugEvent {
    EventKind kind;
    CvUID first;   // machine service or resource
    CvUID second;  // service of a resource
    union {
        CvServiceInfo service;
        CvResourceInfo resource;
    } info;
};

// The work item and its event in one CvAlloc block: the work thread frees the
// block after delivery, and a queue that drops the item drops the event too.
struct HotplugWork {
    CvWork work;  // first, so the block starts with the CvWork the queue frees
    HotplugEvent event;
};

bool StillListening(const Entry& entry)
{
    const auto& listeners = g_hotplug->listeners;
    return listeners && std::any_of(listeners->begin(), listeners->end(),
                                    [&](const Entry& e) { return e.serial == entry.serial; });
}

void Dispatch(const CvHotplugListener& l, const HotplugEvent& e)
{
    switch (e.kind) {
    case EventKind::MachineServiceAdded:
        if (l.machineServiceAdded) l.machineServiceAdded(l.userData, e.first, &e.info.service);
        break;
    case EventKind::MachineServiceRemoved:
        if (l.machineServiceRemoved) l.machineServiceRemoved(l.userData, e.first);
        break;
    case EventKind::ResourceAdded:
        if (l.resourceAdded) l.resourceAdded(l.userData, e.first, &e.info.resource);
        break;
    case EventKind::ResourceRemoved:
        if (l.resourceRemoved) l.resourceRemoved(l.userData, e.first);
        break;
    case EventKind::ResourceServiceAdded:
        if (l.resourceServiceAdded) l.resourceServiceAdded(l.userData, e.first, e.second, &e.info.service);
        break;
    case EventKind::ResourceServiceRemoved:
        if (l.resourceServiceRemoved) l.resourceServiceRemoved(l.userData, e.first, e.second);
        break;
    }
}

// Runs on the work thread.
void Deliver(void* argument)
{
    const auto& event = *static_cast<const HotplugEvent*>(argument);
    std::lock_guard lock(g_hotplug->mutex);
    if (!g_hotplug->listeners) return;
    // Listeners may change the list while they are called: walk a copy, skip
    // those removed meanwhile (a removed listener is never called again) and
    // leave those added meanwhile for the next event.
    const std::vector<Entry> listeners = *g_hotplug->listeners;
    for (const Entry& entry : listeners)
        if (StillListening(entry)) Dispatch(*entry.listener, event);
}

void Signal(EventKind kind, CvUID first, CvUID second, const void* info, std::size_t infoSize)
{
    auto* item = static_cast<HotplugWork*>(CvAlloc(static_cast<int32_t>(sizeof(HotplugWork))));
    if (item == nullptr) return;
    item->event.kind = kind;
    item->event.first = first;
    item->event.second = second;
    if (info != nullptr) {
        std::memcpy(&item->event.info, info, infoSize);
        // Listeners read the texts as C strings; keep them terminated.
        if (infoSize == sizeof(CvServiceInfo)) {
            item->event.info.service.type[sizeof item->event.info.service.type - 1] = '\0';
        } else {
            item->event.info.resource.name[sizeof item->event.info.resource.name - 1] = '\0';
            item->event.info.resource.description[sizeof item->event.info.resource.description - 1] = '\0';
        }
    }
    item->work.argument = &item->event;
    item->work.function = Deliver;
    CvWorkManager_QueueWork(&item->work);
}

}  // namespace

void CvHotplugEventManager_Initialize(void)
{
    std::lock_guard lock(g_hotplug->mutex);
    if (!g_hotplug->listeners) g_hotplug->listeners.emplace();
}

void CvHotplugEventManager_Uninitialize(void)
{
    std::lock_guard lock(g_hotplug->mutex);
    g_hotplug->listeners.reset();
}

void CvHotplugEventManager_AddListener(CvHotplugListener* listener)
{
    if (listener == nullptr) return;
    std::lock_guard lock(g_hotplug->mutex);
    if (g_hotplug->listeners) g_hotplug->listeners->push_back({listener, g_hotplug->nextSerial++});
}

void CvHotplugEventManager_RemoveListener(CvHotplugListener* listener)
{
    std::lock_guard lock(g_hotplug->mutex);
    if (!g_hotplug->listeners) return;
    // One removal undoes one addition, the latest.
    auto& listeners = *g_hotplug->listeners;
    const auto found = std::find_if(listeners.rbegin(), listeners.rend(),
                                    [&](const Entry& e) { return e.listener == listener; });
    if (found != listeners.rend()) listeners.erase(std::next(found).base());
}

void CvHotplugEventManager_SignalMachineServiceAdded(CvUID service, const CvServiceInfo* info)
{
    Signal(EventKind::MachineServiceAdded, service, CV_UID_NONE, info, sizeof(CvServiceInfo));
}

void CvHotplugEventManager_SignalMachineServiceRemoved(CvUID service)
{
    Signal(EventKind::MachineServiceRemoved, service, CV_UID_NONE, nullptr, 0);
}

void CvHotplugEventManager_SignalResourceAdded(CvUID resource, const CvResourceInfo* info)
{
    Signal(EventKind::ResourceAdded, resource, CV_UID_NONE, info, sizeof(CvResourceInfo));
}

void CvHotplugEventManager_SignalResourceRemoved(CvUID resource)
{
    Signal(EventKind::ResourceRemoved, resource, CV_UID_NONE, nullptr, 0);
}

void CvHotplugEventManager_SignalResourceServiceAdded(CvUID resource, CvUID service, const CvServiceInfo* info)
{
    Signal(EventKind::ResourceServiceAdded, resource, service, info, sizeof(CvServiceInfo));
}

void CvHotplugEventManager_SignalResourceServiceRemoved(CvUID resource, CvUID service)
{
    Signal(EventKind::ResourceServiceRemoved, resource, service, nullptr, 0);
}
