// Machine manager: the machines this process works with, each served by the
// bridge of its URL's protocol, and the machine and proxy calls that it forwards
// to that bridge's function table.
#include <corvane.h>

#include <cstring>
#include <memory>

#include "core/never_destroyed.h"
#include "managers/fixed_text.h"
#include "registry/registry.h"

namespace {

using corvane::FixedText;
using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kMachineMessages = {
    "Machine manager is uninitialized",
    "Machine with UID %d was not found",
    "Machine with UID %d is being disposed",
    "Error while disposing of machine (%d:'%s') while unitializing the machine manager: %s",
    "Machine with UID %d has no submitted command outstanding",
};

struct MachineEntry : RegistryEntry {
    CvMachineDescriptor descriptor;
};

constinit NeverDestroyed<Registry<MachineEntry>> g_registry{kMachineMessages};

// A bridge may leave slots it does not support empty.
int FailUnsupported(CvUID machine, CvError* error)
{
    return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED, "Machine with UID %d does not support this call",
                            static_cast<int>(machine));
}

// Calls the descriptor slot `Slot` of the machine with its user data and the
// arguments, outside the manager's mutex while the machine counts as busy.
template <auto Slot, class... Args>
int Forward(CvUID machine, CvError* error, Args... args)
{
    return g_registry->call(machine, error, [&](MachineEntry& entry) {
        const CvMachineDescriptor& descriptor = entry.descriptor;
        const auto function = descriptor.*Slot;
        if (function == nullptr) return FailUnsupported(machine, error);
        return function(descriptor.userData, args..., error);
    });
}

// Like Forward, for a submit: the machine's and the manager's pending counts stay
// raised when the bridge accepts the command, until CvMachine_NotifyCommandCompleted.
template <auto Slot, class... Args>
int ForwardSubmit(CvUID machine, CvError* error, Args... args)
{
    return g_registry->submit(machine, error, [&](MachineEntry& entry) {
        const CvMachineDescriptor& descriptor = entry.descriptor;
        const auto function = descriptor.*Slot;
        if (function == nullptr) return FailUnsupported(machine, error);
        return function(descriptor.userData, args..., error);
    });
}

int DisposeMachine(MachineEntry& machine, CvError* error) { return corvane::CallDispose(machine.descriptor, error); }

}  // namespace

void CvMachineManager_Initialize(void) { g_registry->initialize(); }

int CvMachineManager_Uninitialize(CvError* error)
{
    return g_registry->uninitialize(error, [](MachineEntry& machine) {
        g_registry->disposeOrLog(machine, FixedText(machine.descriptor.url).c_str(),
                                 [&](CvError* disposeError) { return DisposeMachine(machine, disposeError); });
    });
}

int CvMachineManager_GetMachineList(CvUIDList* list, CvError* error) { return g_registry->list(list, error); }

int CvMachineManager_CreateMachine(const char* url, CvUID* machine, CvError* error)
{
    if (machine != nullptr) *machine = CV_UID_NONE;
    // The mutex stays held while the bridge manager finds the bridge and its
    // initialiser fills the descriptor (lock order: machine, then bridge).
    auto held = g_registry->lock();
    if (!g_registry->requireInitialized(held, error)) return 0;

    auto entry = std::make_unique<MachineEntry>();
    std::memset(&entry->descriptor, 0, sizeof entry->descriptor);
    entry->uid = CvNextUID();
    if (url != nullptr) std::strncpy(entry->descriptor.url, url, sizeof entry->descriptor.url);
    entry->descriptor.url[sizeof entry->descriptor.url - 1] = '\0';

    if (CvBridgeManager_InitializeMachineDescriptor(entry->uid, &entry->descriptor, error) == 0) return 0;

    const CvUID uid = g_registry->entries(held).insert(std::move(entry)).uid;
    if (machine != nullptr) *machine = uid;
    return CvSetNoThreadError(error);
}

int CvMachineManager_DestroyMachine(CvUID machine, CvError* error)
{
    if (!g_registry->unregister(machine, error, DisposeMachine)) return 0;
    return CvSetNoThreadError(error);
}

int CvMachine_GetInfo(CvUID machine, CvMachineInfo* info, CvError* error)
{
    static_assert(sizeof(CvMachineInfo) == sizeof(CvMachineDescriptor::url));
    return g_registry->copyInfo(machine, info, sizeof *info, error,
                                [](const MachineEntry& entry) { return entry.descriptor.url; });
}

void CvMachine_NotifyCommandCompleted(CvUID machine) { g_registry->completeCommand(machine); }

// ---- Forwarded to the machine's bridge -----------------------------------------

int CvMachine_Connect(CvUID machine, const StringMap* settings, CvError* error)
{
    return Forward<&CvMachineDescriptor::connect>(machine, error, settings);
}

int CvMachine_Disconnect(CvUID machine, CvError* error)
{
    return Forward<&CvMachineDescriptor::disconnect>(machine, error);
}

int CvMachine_IsConnected(CvUID machine, int* connected, CvError* error)
{
    return Forward<&CvMachineDescriptor::isConnected>(machine, error, connected);
}

int CvMachine_SetEventListener(CvUID machine, CvHotplugListener* listener, CvHotplugListener** previous,
                               CvError* error)
{
    return Forward<&CvMachineDescriptor::setEventListener>(machine, error, listener, previous);
}

int CvMachine_SetLoggingListener(CvUID machine, CvLogListener* listener, CvLogListener** previous, CvError* error)
{
    return Forward<&CvMachineDescriptor::setLoggingListener>(machine, error, listener, previous);
}

int CvMachine_GetResourceList(CvUID machine, CvUIDList* list, CvError* error)
{
    return Forward<&CvMachineDescriptor::getResourceList>(machine, error, list);
}

int CvMachine_GetServiceList(CvUID machine, CvUIDList* list, CvError* error)
{
    return Forward<&CvMachineDescriptor::getMachineServiceList>(machine, error, list);
}

int CvMachineServiceProxy_GetInfo(CvUID machine, CvUID service, CvServiceInfo* info, CvError* error)
{
    return Forward<&CvMachineDescriptor::machineServiceGetInfo>(machine, error, service, info);
}

int CvMachineServiceProxy_ExecuteCommand(CvUID machine, CvUID service, CvCommand* command, CvError* error)
{
    return Forward<&CvMachineDescriptor::machineServiceExecuteCommand>(machine, error, service, command);
}

int CvMachineServiceProxy_SubmitCommand(CvUID machine, CvUID service, CvCommand* command,
                                        CvCommandCompletion* completion, CvError* error)
{
    return ForwardSubmit<&CvMachineDescriptor::machineServiceSubmitCommand>(machine, error, service, command,
                                                                            completion);
}

int CvMachineServiceProxy_AbortCommand(CvUID machine, CvUID service, uint32_t tag, CvError* error)
{
    return Forward<&CvMachineDescriptor::machineServiceAbortCommand>(machine, error, service, tag);
}

int CvResourceProxy_GetInfo(CvUID machine, CvUID resource, CvResourceInfo* info, CvError* error)
{
    return Forward<&CvMachineDescriptor::resourceGetInfo>(machine, error, resource, info);
}

int CvResourceProxy_GetServiceList(CvUID machine, CvUID resource, CvUIDList* list, CvError* error)
{
    return Forward<&CvMachineDescriptor::resourceGetServiceList>(machine, error, resource, list);
}

int CvResourceServiceProxy_GetInfo(CvUID machine, CvUID resource, CvUID service, CvServiceInfo* info,
                                   CvError* error)
{
    return Forward<&CvMachineDescriptor::resourceServiceGetInfo>(machine, error, resource, service, info);
}

int CvResourceServiceProxy_ExecuteCommand(CvUID machine, CvUID resource, CvUID service, CvCommand* command,
                                          CvError* error)
{
    return Forward<&CvMachineDescriptor::resourceServiceExecuteCommand>(machine, error, resource, service, command);
}

int CvResourceServiceProxy_SubmitCommand(CvUID machine, CvUID resource, CvUID service, CvCommand* command,
                                         CvCommandCompletion* completion, CvError* error)
{
    return ForwardSubmit<&CvMachineDescriptor::resourceServiceSubmitCommand>(machine, error, resource, service,
                                                                             command, completion);
}

int CvResourceServiceProxy_AbortCommand(CvUID machine, CvUID resource, CvUID service, uint32_t tag,
                                        CvError* error)
{
    return Forward<&CvMachineDescriptor::resourceServiceAbortCommand>(machine, error, resource, service, tag);
}
