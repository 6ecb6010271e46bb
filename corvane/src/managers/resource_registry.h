// The resource manager's registry, shared by its three source files: resources
// at the top level, each with its own table of services (two levels on one
// mutex). A call on a service raises the busy counts of both the service and its
// resource, so unregistering the resource waits for it.
#pragma once

#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace corvane {

struct ResourceServiceEntry : RegistryEntry {
    CvServiceDescriptor descriptor{};
};

struct ResourceEntry : RegistryEntry {
    CvResourceDescriptor descriptor{};
    EntryTable<ResourceServiceEntry> services;  // registration order; changed under the mutex
};

using ResourceRegistry = Registry<ResourceEntry>;

extern NeverDestroyed<ResourceRegistry> g_resources;

// A service found under the mutex, with the resource that carries it.
struct ServiceRef {
    ResourceEntry* resource = nullptr;
    ResourceServiceEntry* service = nullptr;  // null: lookup failed, error filled
};

// Checks manager, resource and service as every call on a service does; a
// service UID is only looked for among the services of that resource.
inline ServiceRef FindService(const ResourceRegistry::Lock& held, CvUID resource, CvUID service, CvError* error)
{
    ResourceEntry* owner = g_resources->find(held, resource, error);
    if (owner == nullptr) return {};
    ResourceServiceEntry* entry = owner->services.find(service);
    if (entry == nullptr) {
        CvSetThreadError(error, CV_ERROR_NOT_FOUND, "Resource service with UID %d:%d was not found",
                         static_cast<int>(resource), static_cast<int>(service));
        return {};
    }
    if (entry->busy < 0) {
        CvSetThreadError(error, CV_ERROR_FAILED, "Resource service with UID %d:%d is being disposed",
                         static_cast<int>(resource), static_cast<int>(service));
        return {};
    }
    return {owner, entry};
}

// Logs the removal and queues the hot-plug event; called after the mutex is released.
void AnnounceServiceRemoved(CvUID resource, const char* resourceName, CvUID service, const char* serviceType);

}  // namespace corvane
