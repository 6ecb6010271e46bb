// The calls on one resource: its info records and the services it carries.
#include <corvane.h>

#include <cstring>
#include <memory>

#include "managers/command_checks.h"
#include "managers/resource_registry.h"

using corvane::g_resources;
using corvane::ResourceEntry;
using corvane::ResourceServiceEntry;

namespace corvane {

void AnnounceServiceRemoved(CvUID resource, const char* resourceName, CvUID service, const char* serviceType)
{
    CvLog(CV_LOG_INFO, "Resource service removed - ResourceID=%d ResourceName='%s' ServiceID=%d ServiceName='%s'",
          static_cast<int>(resource), resourceName, static_cast<int>(service), serviceType);
    CvHotplugEventManager_SignalResourceServiceRemoved(resource, service);
}

}  // namespace corvane

int CvResource_GetInfo(CvUID resource, CvResourceInfo* info, CvError* error)
{
    return g_resources->copyInfo(resource, info, sizeof *info, error,
                                 [](const ResourceEntry& entry) { return &entry.descriptor.info; });
}

int CvResource_GetTypeInfo(CvUID resource, CvResourceTypeInfo* typeInfo, CvError* error)
{
    return g_resources->copyInfo(resource, typeInfo, sizeof *typeInfo, error,
                                 [](const ResourceEntry& entry) { return &entry.descriptor.typeInfo; });
}

int CvResource_GetServiceList(CvUID resource, CvUIDList* list, CvError* error)
{
    auto held = g_resources->lock();
    const ResourceEntry* owner = g_resources->find(held, resource, error);
    if (owner == nullptr) {
        if (list != nullptr) list->count = 0;
        return 0;
    }
    owner->services.fillList(list);
    return CvSetNoThreadError(error);
}

int CvResource_LookupResourceService(CvUID resource, const char* serviceType, CvUID* service, CvError* error)
{
    if (service != nullptr) *service = CV_UID_NONE;
    auto held = g_resources->lock();
    const ResourceEntry* owner = g_resources->find(held, resource, error);
    if (owner == nullptr) return 0;
    const ResourceServiceEntry* match = owner->services.findFirst([serviceType](const ResourceServiceEntry& entry) {
        return corvane::FieldEquals(entry.descriptor.info.type, serviceType);
    });
    if (match != nullptr && service != nullptr) *service = match->uid;
    return CvSetNoThreadError(error);
}

int CvResource_RegisterService(CvUID resource, const CvServiceDescriptor* descriptor, CvUID* service,
                               CvError* error)
{
    if (service != nullptr) *service = CV_UID_NONE;
    if (descriptor == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Service descriptor is null");

    auto entry = std::make_unique<ResourceServiceEntry>();
    entry->descriptor = *descriptor;
    corvane::TerminateTexts(entry->descriptor);
    const CvServiceInfo info = entry->descriptor.info;

    auto held = g_resources->lock();
    ResourceEntry* owner = g_resources->find(held, resource, error);
    if (owner == nullptr) return 0;
    const bool taken = owner->services.findFirst([&info](const ResourceServiceEntry& existing) {
        return corvane::FieldEquals(existing.descriptor.info.type, info.type);
    }) != nullptr;
    if (taken)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Resource with UID %d already has a service registered of type '%s'",
                                static_cast<int>(resource), info.type);

    entry->uid = CvNextUID();
    ResourceServiceEntry& added = owner->services.insert(std::move(entry));
    // The registered notification runs under the mutex: the service is complete
    // before anyone can reach it.
    if (added.descriptor.registered != nullptr) added.descriptor.registered(added.descriptor.userData, added.uid);
    const CvUID uid = added.uid;
    char resourceName[CV_RESOURCE_NAME_SIZE];
    std::memcpy(resourceName, owner->descriptor.info.name, sizeof resourceName);
    held.unlock();

    if (service != nullptr) *service = uid;
    CvLog(CV_LOG_INFO, "Resource service added - ResourceID=%d ResourceName='%s' ServiceID=%d ServiceName='%s'",
          static_cast<int>(resource), resourceName, static_cast<int>(uid), info.type);
    CvHotplugEventManager_SignalResourceServiceAdded(resource, uid, &info);
    return CvSetNoThreadError(error);
}

int CvResource_UnregisterService(CvUID resource, CvUID service, CvError* error)
{
    using Target = corvane::DisposalTarget<ResourceServiceEntry>;
    char resourceName[CV_RESOURCE_NAME_SIZE] = {};
    ResourceEntry* owner = nullptr;

    std::unique_ptr<ResourceServiceEntry> removed = g_resources->disposeWhenIdle(
        error,
        [&](corvane::ResourceRegistry::Lock& held, CvError* err) -> Target {
            const corvane::ServiceRef found = corvane::FindService(held, resource, service, err);
            if (found.service == nullptr) return {};
            owner = found.resource;
            // The resource stays busy while its service is disposed of, so it
            // cannot go away underneath.
            return {found.service, {&found.resource->busy}};
        },
        [](ResourceServiceEntry& entry, CvError* err) { return corvane::CallDispose(entry.descriptor, err); },
        [&](corvane::ResourceRegistry::Lock&, ResourceServiceEntry& entry) {
            std::memcpy(resourceName, owner->descriptor.info.name, sizeof resourceName);
            return owner->services.remove(entry.uid);
        });
    if (!removed) return 0;
    corvane::AnnounceServiceRemoved(resource, resourceName, service, removed->descriptor.info.type);
    return CvSetNoThreadError(error);
}

int CvResourceService_GetInfo(CvUID resource, CvUID service, CvServiceInfo* info, CvError* error)
{
    auto held = g_resources->lock();
    const corvane::ServiceRef found = corvane::FindService(held, resource, service, error);
    if (found.service == nullptr) {
        if (info != nullptr) std::memset(info, 0, sizeof *info);
        return 0;
    }
    if (info != nullptr) *info = found.service->descriptor.info;
    return CvSetNoThreadError(error);
}
