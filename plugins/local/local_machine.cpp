#include "local_machine.h"

#include <memory>
#include <new>

#include "command_relay.h"
#include "listener_relay.h"
#include "machine_list.h"

namespace cvpl_local {
namespace {

LocalMachine& State(void* userData) { return *static_cast<LocalMachine*>(userData); }

// Runs call(client UID) -> int without the state mutex once the machine is
// known to be connected; its result and error are returned unchanged.
template <class Call>
int WhenConnected(void* userData, CvError* error, Call&& call)
{
    CvUID client = CV_UID_NONE;
    if (!RequireConnected(State(userData), &client, error)) return 0;
    return call(client);
}

// ---- Connection ------------------------------------------------------------

int Connect(void* userData, const StringMap*, CvError* error)
{
    LocalMachine& machine = State(userData);
    bool attach = false;
    {
        std::lock_guard lock(machine.mutex);
        if (machine.connected != 0)
            return CvSetThreadError(error, CV_ERROR_FAILED, "Machine %d is already connected",
                                    static_cast<int>(machine.machine));
        machine.connected = 1;
        if (machine.client == CV_UID_NONE) machine.client = CvNextUID();
        attach = !machine.relaysAttached;
        machine.relaysAttached = true;
    }
    // From now on the relays pass events and lines to the listeners that are set.
    if (attach) {
        CvHotplugEventManager_AddListener(&machine.eventRelay);
        CvLogEventManager_AddListener(&machine.logRelay);
    }
    return CvSetNoThreadError(error);
}

int Disconnect(void* userData, CvError* error)
{
    LocalMachine& machine = State(userData);
    std::unique_lock lock(machine.mutex);
    if (machine.connected == 0)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Machine %d is already disconnected",
                                static_cast<int>(machine.machine));
    machine.connected = 0;
    // No new call reaches the client's listeners; let those in progress end.
    WaitForOtherDeliveries(machine, lock, machine.eventListener);
    WaitForOtherDeliveries(machine, lock, machine.logListener);
    return CvSetNoThreadError(error);
}

int IsConnected(void* userData, int* connected, CvError* error)
{
    LocalMachine& machine = State(userData);
    std::lock_guard lock(machine.mutex);
    if (connected != nullptr) *connected = machine.connected != 0 ? 1 : 0;
    return CvSetNoThreadError(error);
}

// The two listener setters: swap the stored listener; the relays pass what
// follows to the new one. The old one is handed back once no other thread is
// still inside it.
template <class Listener, Listener* LocalMachine::*Field>
int SetListener(void* userData, Listener* listener, Listener** previous, CvError* error)
{
    LocalMachine& machine = State(userData);
    std::unique_lock lock(machine.mutex);
    Listener* old = machine.*Field;
    machine.*Field = listener;
    if (old != listener) WaitForOtherDeliveries(machine, lock, old);
    if (previous != nullptr) *previous = old;
    return CvSetNoThreadError(error);
}

// ---- Forwarded to the managers of this process -----------------------------

int GetResourceList(void* userData, CvUIDList* list, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID) { return CvResourceManager_GetResourceList(list, error); });
}

int GetMachineServiceList(void* userData, CvUIDList* list, CvError* error)
{
    return WhenConnected(userData, error,
                         [&](CvUID) { return CvMachineServiceManager_GetMachineServiceList(list, error); });
}

int MachineServiceGetInfo(void* userData, CvUID service, CvServiceInfo* info, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID) { return CvMachineService_GetInfo(service, info, error); });
}

int MachineServiceExecute(void* userData, CvUID service, CvCommand* command, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID client) {
        return CvMachineService_ExecuteCommand(service, client, command, error);
    });
}

int MachineServiceSubmit(void* userData, CvUID service, CvCommand* command, CvCommandCompletion* completion,
                         CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID client) {
        return RelaySubmit(State(userData), completion, error, [&](CvCommandCompletion* relayed) {
            return CvMachineService_SubmitCommand(service, client, command, relayed, error);
        });
    });
}

int MachineServiceAbort(void* userData, CvUID service, uint32_t tag, CvError* error)
{
    return WhenConnected(userData, error,
                         [&](CvUID client) { return CvMachineService_AbortCommand(service, client, tag, error); });
}

int ResourceGetInfo(void* userData, CvUID resource, CvResourceInfo* info, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID) { return CvResource_GetInfo(resource, info, error); });
}

int ResourceGetServiceList(void* userData, CvUID resource, CvUIDList* list, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID) { return CvResource_GetServiceList(resource, list, error); });
}

int ResourceServiceGetInfo(void* userData, CvUID resource, CvUID service, CvServiceInfo* info, CvError* error)
{
    return WhenConnected(userData, error,
                         [&](CvUID) { return CvResourceService_GetInfo(resource, service, info, error); });
}

int ResourceServiceExecute(void* userData, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID client) {
        return CvResourceService_ExecuteCommand(resource, service, client, command, error);
    });
}

int ResourceServiceSubmit(void* userData, CvUID resource, CvUID service, CvCommand* command,
                          CvCommandCompletion* completion, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID client) {
        return RelaySubmit(State(userData), completion, error, [&](CvCommandCompletion* relayed) {
            return CvResourceService_SubmitCommand(resource, service, client, command, relayed, error);
        });
    });
}

int ResourceServiceAbort(void* userData, CvUID resource, CvUID service, uint32_t tag, CvError* error)
{
    return WhenConnected(userData, error, [&](CvUID client) {
        return CvResourceService_AbortCommand(resource, service, client, tag, error);
    });
}

// ---- Disposal --------------------------------------------------------------

// The machine manager calls this once no call is in progress on the machine and
// no submitted command is outstanding.
int Dispose(void* userData, CvError* error)
{
    LocalMachine& machine = State(userData);
    std::shared_ptr<LocalMachine> own = std::move(machine.self);
    bool attached = false;
    {
        std::lock_guard lock(machine.mutex);
        machine.connected = 0;
        attached = machine.relaysAttached;
    }
    // A machine destroyed while connected leaves nothing attached behind it: its
    // client could never detach it any more. Once these return, the framework
    // calls neither relay again.
    if (attached) {
        CvHotplugEventManager_RemoveListener(&machine.eventRelay);
        CvLogEventManager_RemoveListener(&machine.logRelay);
    }
    const CvUID uid = machine.machine;
    MachineList& list = machine.list;
    own.reset();
    list.remove(uid);
    return CvSetNoThreadError(error);
}

}  // namespace

bool RequireConnected(LocalMachine& machine, CvUID* client, CvError* error)
{
    std::lock_guard lock(machine.mutex);
    if (machine.connected == 0) {
        CvSetThreadError(error, CV_ERROR_FAILED, "Machine %d is not connected", static_cast<int>(machine.machine));
        return false;
    }
    *client = machine.client;
    return true;
}

bool FillMachineDescriptor(CvUID machine, MachineList& list, CvMachineDescriptor* descriptor)
{
    std::shared_ptr<LocalMachine> state;
    try {
        state = std::make_shared<LocalMachine>(machine, list);
    } catch (const std::bad_alloc&) {
        return false;
    }
    PrepareRelays(*state);
    descriptor->connect = Connect;
    descriptor->disconnect = Disconnect;
    descriptor->isConnected = IsConnected;
    descriptor->setEventListener = SetListener<CvHotplugListener, &LocalMachine::eventListener>;
    descriptor->setLoggingListener = SetListener<CvLogListener, &LocalMachine::logListener>;
    descriptor->getResourceList = GetResourceList;
    descriptor->getMachineServiceList = GetMachineServiceList;
    descriptor->machineServiceGetInfo = MachineServiceGetInfo;
    descriptor->machineServiceExecuteCommand = MachineServiceExecute;
    descriptor->machineServiceSubmitCommand = MachineServiceSubmit;
    descriptor->machineServiceAbortCommand = MachineServiceAbort;
    descriptor->resourceGetInfo = ResourceGetInfo;
    descriptor->resourceGetServiceList = ResourceGetServiceList;
    descriptor->resourceServiceGetInfo = ResourceServiceGetInfo;
    descriptor->resourceServiceExecuteCommand = ResourceServiceExecute;
    descriptor->resourceServiceSubmitCommand = ResourceServiceSubmit;
    descriptor->resourceServiceAbortCommand = ResourceServiceAbort;
    descriptor->dispose = Dispose;
    LocalMachine& created = *state;
    descriptor->userData = &created;
    created.self = std::move(state);
    return true;
}

}  // namespace cvpl_local
