// Resource manager: registering, listing, finding and removing the resources of
// this process. A resource's type data belongs to the manager from the moment it
// is handed over, so it is freed exactly once: when registration fails or when
// the resource is removed.
#include <corvane.h>

#include <memory>

#include "managers/command_checks.h"
#include "managers/resource_registry.h"

namespace corvane {

namespace {

constexpr RegistryMessages kResourceMessages = {
    "Resource manager is uninitialized",
    "Resource with UID %d was not found",
    "Resource with UID %d is being disposed",
    "Error while disposing of resource (%d:'%s') while unitializing the resource manager: %s",
};

}  // namespace

constinit NeverDestroyed<ResourceRegistry> g_resources{kResourceMessages};

namespace {

void TerminateResourceTexts(CvResourceDescriptor& descriptor)
{
    TerminateField(descriptor.info.name);
    TerminateField(descriptor.info.description);
    TerminateField(descriptor.typeInfo.typeName);
}

// Disposes of every service of a resource that no other call can reach any more
// (being disposed, or already out of the registry), first registered first.
// Each service goes whatever its dispose function says; onFailure(service,
// error) logs a refusal.
template <class OnFailure>
void DisposeServicesOf(ResourceEntry& resource, OnFailure&& onFailure)
{
    for (;;) {
        std::unique_ptr<ResourceServiceEntry> service;
        {
            auto held = g_resources->lock();
            service = resource.services.takeFirst();
        }
        if (!service) return;
        CvError error;
        CvSetNoThreadError(&error);
        if (CallDispose(service->descriptor, &error) == 0) onFailure(*service, error);
        AnnounceServiceRemoved(resource.uid, resource.descriptor.info.name, service->uid,
                               service->descriptor.info.type);
    }
}

// The last step of every removal: the type data goes, then the world is told.
void ReleaseRemovedResource(ResourceEntry& resource)
{
    CvFree(resource.descriptor.typeInfo.typeData);
    resource.descriptor.typeInfo.typeData = nullptr;
    CvLog(CV_LOG_INFO, "Resource removed - ResourceID=%d ResourceName='%s'", static_cast<int>(resource.uid),
          resource.descriptor.info.name);
    CvHotplugEventManager_SignalResourceRemoved(resource.uid);
}

}  // namespace

}  // namespace corvane

using corvane::g_resources;
using corvane::ResourceEntry;
using corvane::ResourceServiceEntry;

void CvResourceManager_Initialize(void) { g_resources->initialize(); }

int CvResourceManager_Uninitialize(CvError* error)
{
    return g_resources->uninitialize(error, [](ResourceEntry& resource) {
        corvane::DisposeServicesOf(resource, [&](const ResourceServiceEntry& service, const CvError& failure) {
            CvLog(CV_LOG_ERROR,
                  "Error while disposing of resource service (%d:'%s') on resource (%d:'%s') while unitializing the "
                  "resource manager: %s",
                  static_cast<int>(service.uid), service.descriptor.info.type, static_cast<int>(resource.uid),
                  resource.descriptor.info.name, corvane::FixedText(failure.message).c_str());
        });
        g_resources->disposeOrLog(resource, resource.descriptor.info.name,
                                  [&](CvError* e) { return corvane::CallDispose(resource.descriptor, e); });
        corvane::ReleaseRemovedResource(resource);
    });
}

int CvResourceManager_GetResourceList(CvUIDList* list, CvError* error) { return g_resources->list(list, error); }

int CvResourceManager_LookupResource(const char* name, CvUID* resource, CvError* error)
{
    return g_resources->lookup(resource, error, [name](const ResourceEntry& entry) {
        return corvane::FieldEquals(entry.descriptor.info.name, name);
    });
}

int CvResourceManager_Register(const CvResourceDescriptor* descriptor, CvUID* resource, CvError* error)
{
    if (resource != nullptr) *resource = CV_UID_NONE;
    if (descriptor == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Resource descriptor is null");

    auto entry = std::make_unique<ResourceEntry>();
    entry->descriptor = *descriptor;
    corvane::TerminateResourceTexts(entry->descriptor);
    const CvResourceInfo info = entry->descriptor.info;

    const CvUID uid = g_resources->add(
        std::move(entry), error,
        [&info](const corvane::ResourceRegistry::Table& table, CvError* err) {
            const bool taken = table.findFirst([&info](const ResourceEntry& existing) {
                return corvane::FieldEquals(existing.descriptor.info.name, info.name);
            }) != nullptr;
            if (taken) CvSetThreadError(err, CV_ERROR_FAILED, "Resource with name '%s' already exists", info.name);
            return !taken;
        },
        [](ResourceEntry& added) {
            if (added.descriptor.registered != nullptr) added.descriptor.registered(added.descriptor.userData, added.uid);
        });
    if (uid == CV_UID_NONE) {
        // Refused: the type data was handed over all the same and is ours to free.
        CvFree(descriptor->typeInfo.typeData);
        return 0;
    }

    if (resource != nullptr) *resource = uid;
    CvLog(CV_LOG_INFO, "Resource added - ResourceID=%d ResourceName='%s'", static_cast<int>(uid), info.name);
    CvHotplugEventManager_SignalResourceAdded(uid, &info);
    return CvSetNoThreadError(error);
}

int CvResourceManager_Unregister(CvUID resource, CvError* error)
{
    std::unique_ptr<ResourceEntry> removed = g_resources->unregister(resource, error, [](ResourceEntry& entry,
                                                                                          CvError* err) {
        // Busy is -1 now: no other call reaches this resource or its services.
        corvane::DisposeServicesOf(entry, [&](const ResourceServiceEntry& service, const CvError& failure) {
            CvLog(CV_LOG_ERROR,
                  "Error while disposing of service (%d:'%s') while unregistering its resource (%d:'%s'): %s",
                  static_cast<int>(service.uid), service.descriptor.info.type, static_cast<int>(entry.uid),
                  entry.descriptor.info.name, corvane::FixedText(failure.message).c_str());
        });
        return corvane::CallDispose(entry.descriptor, err);
    });
    if (!removed) return 0;
    corvane::ReleaseRemovedResource(*removed);
    return CvSetNoThreadError(error);
}
