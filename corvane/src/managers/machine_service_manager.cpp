// Machine service manager: services of the computer as a whole. Same descriptor
// and command path as resource services, without the resource level.
#include <corvane.h>

#include <memory>

#include "core/never_destroyed.h"
#include "managers/command_checks.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kMachineServiceMessages = {
    "Machine service manager is uninitialized",
    "Machine service with UID %d was not found",
    "Machine service with UID %d is being disposed",
    "Error while disposing of machine service (%d:'%s') while unitializing the machine service manager: %s",
    "Machine service with UID %d has no submitted command outstanding",
};

// The lookup by type has its own text for a manager that is down.
constexpr const char* kLookupUninitialized = "Machine serivec manager is uninitialized";

struct MachineServiceEntry : RegistryEntry {
    CvServiceDescriptor descriptor{};
};

constinit NeverDestroyed<Registry<MachineServiceEntry>> g_registry{kMachineServiceMessages};

void AnnounceRemoved(const MachineServiceEntry& entry)
{
    CvLog(CV_LOG_INFO, "Machine service removed - ServiceID=%d ServiceType='%s'", static_cast<int>(entry.uid),
          entry.descriptor.info.type);
    CvHotplugEventManager_SignalMachineServiceRemoved(entry.uid);
}

}  // namespace

void CvMachineServiceManager_Initialize(void) { g_registry->initialize(); }

int CvMachineServiceManager_Uninitialize(CvError* error)
{
    return g_registry->uninitialize(error, [](MachineServiceEntry& entry) {
        g_registry->disposeOrLog(entry, entry.descriptor.info.type,
                                 [&](CvError* e) { return corvane::CallDispose(entry.descriptor, e); });
        AnnounceRemoved(entry);
    });
}

int CvMachineServiceManager_GetMachineServiceList(CvUIDList* list, CvError* error)
{
    return g_registry->list(list, error);
}

int CvMachineServiceManager_LookupMachineService(const char* serviceType, CvUID* service, CvError* error)
{
    return g_registry->lookup(
        service, error,
        [serviceType](const MachineServiceEntry& entry) {
            return corvane::FieldEquals(entry.descriptor.info.type, serviceType);
        },
        kLookupUninitialized);
}

int CvMachineServiceManager_Register(const CvServiceDescriptor* descriptor, CvUID* service, CvError* error)
{
    if (service != nullptr) *service = CV_UID_NONE;
    if (descriptor == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Service descriptor is null");

    auto entry = std::make_unique<MachineServiceEntry>();
    entry->descriptor = *descriptor;
    corvane::TerminateTexts(entry->descriptor);
    const CvServiceInfo info = entry->descriptor.info;

    const CvUID uid = g_registry->add(
        std::move(entry), error,
        [&info](const Registry<MachineServiceEntry>::Table& table, CvError* err) {
            const bool taken = table.findFirst([&info](const MachineServiceEntry& existing) {
                return corvane::FieldEquals(existing.descriptor.info.type, info.type);
            }) != nullptr;
            if (taken)
                CvSetThreadError(err, CV_ERROR_FAILED, "Machine already has a service registered of type '%s'",
                                 info.type);
            return !taken;
        },
        [](MachineServiceEntry& added) {
            if (added.descriptor.registered != nullptr) added.descriptor.registered(added.descriptor.userData, added.uid);
        });
    if (uid == CV_UID_NONE) return 0;

    if (service != nullptr) *service = uid;
    CvLog(CV_LOG_INFO, "Machine service added - ServiceID=%d ServiceType='%s'", static_cast<int>(uid), info.type);
    CvHotplugEventManager_SignalMachineServiceAdded(uid, &info);
    return CvSetNoThreadError(error);
}

int CvMachineServiceManager_Unregister(CvUID service, CvError* error)
{
    std::unique_ptr<MachineServiceEntry> removed =
        g_registry->unregister(service, error, [](MachineServiceEntry& entry, CvError* err) {
            return corvane::CallDispose(entry.descriptor, err);
        });
    if (!removed) return 0;
    AnnounceRemoved(*removed);
    return CvSetNoThreadError(error);
}

int CvMachineService_GetInfo(CvUID service, CvServiceInfo* info, CvError* error)
{
    return g_registry->copyInfo(service, info, sizeof *info, error,
                                [](const MachineServiceEntry& entry) { return &entry.descriptor.info; });
}

int CvMachineService_ExecuteCommand(CvUID service, CvUID /*client*/, CvCommand* command, CvError* error)
{
    if (!corvane::CheckCommandBuffers(command, error)) return 0;
    return g_registry->call(service, error, [&](MachineServiceEntry& entry) {
        const CvServiceDescriptor& d = entry.descriptor;
        if (d.execute == nullptr) return CvSetThreadError(error, CV_ERROR_FAILED, "Executing commands not supported");
        return d.execute(d.userData, command, error);
    });
}

int CvMachineService_SubmitCommand(CvUID service, CvUID /*client*/, CvCommand* command,
                                   CvCommandCompletion* completion, CvError* error)
{
    if (!corvane::CheckCommandBuffers(command, error)) return 0;
    if (completion == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Command completion is null");
    return g_registry->submit(service, error, [&](MachineServiceEntry& entry) {
        const CvServiceDescriptor& d = entry.descriptor;
        if (d.submit == nullptr) return CvSetThreadError(error, CV_ERROR_FAILED, "Submitting commands not supported");
        return d.submit(d.userData, command, completion, error);
    });
}

int CvMachineService_AbortCommand(CvUID service, CvUID /*client*/, uint32_t tag, CvError* error)
{
    return g_registry->call(service, error, [&](MachineServiceEntry& entry) {
        const CvServiceDescriptor& d = entry.descriptor;
        if (d.abort == nullptr) return CvSetThreadError(error, CV_ERROR_FAILED, "Aborting commands not supported");
        return d.abort(d.userData, tag, error);
    });
}

void CvMachineService_NotifyCommandCompleted(CvUID service) { g_registry->completeCommand(service); }
