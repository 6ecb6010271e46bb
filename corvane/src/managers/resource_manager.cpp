// Resource manager: resources of this process and the services they carry.
#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kResourceMessages = {
    "Resource manager is uninitialized",
    "Resource with UID %d was not found",
    "Resource with UID %d is being disposed",
    "Error while disposing of resource (%d:'%s') while unitializing the resource manager: %s",
};

struct ResourceEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<ResourceEntry>> g_registry{kResourceMessages};

}  // namespace

void CvResourceManager_Initialize(void) { g_registry->initialize(); }

int CvResourceManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](ResourceEntry&) {});
}
