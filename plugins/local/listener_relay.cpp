#include "listener_relay.h"

#include <algorithm>
#include <memory>

#include "local_machine.h"

namespace cvpl_local {
namespace {

bool OnThisThread(const LocalMachine::Delivery& d) { return d.thread == std::this_thread::get_id(); }

// Calls `call` with the client's listener in `field` when the machine is
// connected and the listener set, marking this thread as delivering meanwhile.
template <class Listener, class Call>
void Forward(void* userData, Listener* LocalMachine::*field, Call&& call)
{
    // The framework stops calling a relay before dispose drops the machine's own
    // reference, so the machine is alive here; this reference keeps it alive if
    // the listener destroys the machine.
    const std::shared_ptr<LocalMachine> machine = static_cast<LocalMachine*>(userData)->weak_from_this().lock();
    if (!machine) return;
    Listener* listener = nullptr;
    {
        std::lock_guard lock(machine->mutex);
        listener = machine->connected != 0 ? (*machine).*field : nullptr;
        if (listener == nullptr) return;
        machine->delivering.push_back({std::this_thread::get_id(), listener});
    }
    call(*listener);
    {
        std::lock_guard lock(machine->mutex);
        // The innermost call of this thread is the last of its entries.
        auto& delivering = machine->delivering;
        delivering.erase(std::find_if(delivering.rbegin(), delivering.rend(), OnThisThread).base() - 1);
    }
    machine->delivered.notify_all();
}

template <class Call>
void ForwardEvent(void* userData, Call&& call)
{
    Forward(userData, &LocalMachine::eventListener, std::forward<Call>(call));
}

void MachineServiceAdded(void* userData, CvUID service, const CvServiceInfo* info)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.machineServiceAdded) l.machineServiceAdded(l.userData, service, info);
    });
}

void MachineServiceRemoved(void* userData, CvUID service)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.machineServiceRemoved) l.machineServiceRemoved(l.userData, service);
    });
}

void ResourceAdded(void* userData, CvUID resource, const CvResourceInfo* info)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.resourceAdded) l.resourceAdded(l.userData, resource, info);
    });
}

void ResourceRemoved(void* userData, CvUID resource)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.resourceRemoved) l.resourceRemoved(l.userData, resource);
    });
}

void ResourceServiceAdded(void* userData, CvUID resource, CvUID service, const CvServiceInfo* info)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.resourceServiceAdded) l.resourceServiceAdded(l.userData, resource, service, info);
    });
}

void ResourceServiceRemoved(void* userData, CvUID resource, CvUID service)
{
    ForwardEvent(userData, [&](CvHotplugListener& l) {
        if (l.resourceServiceRemoved) l.resourceServiceRemoved(l.userData, resource, service);
    });
}

void Log(void* userData, int level, const char* message)
{
    Forward(userData, &LocalMachine::logListener, [&](CvLogListener& l) {
        if (l.log) l.log(l.userData, level, message);
    });
}

}  // namespace

void PrepareRelays(LocalMachine& machine)
{
    CvHotplugListener& events = machine.eventRelay;
    events.userData = &machine;
    events.machineServiceAdded = MachineServiceAdded;
    events.machineServiceRemoved = MachineServiceRemoved;
    events.resourceAdded = ResourceAdded;
    events.resourceRemoved = ResourceRemoved;
    events.resourceServiceAdded = ResourceServiceAdded;
    events.resourceServiceRemoved = ResourceServiceRemoved;
    machine.logRelay.userData = &machine;
    machine.logRelay.log = Log;
}

void WaitForOtherDeliveries(LocalMachine& machine, std::unique_lock<std::mutex>& lock, const void* listener)
{
    const auto& delivering = machine.delivering;
    if (listener == nullptr || std::any_of(delivering.begin(), delivering.end(), OnThisThread)) return;
    machine.delivered.wait(lock, [&] {
        return std::none_of(delivering.begin(), delivering.end(),
                            [&](const LocalMachine::Delivery& d) { return d.listener == listener; });
    });
}

}  // namespace cvpl_local
