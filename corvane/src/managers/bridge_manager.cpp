// Bridge manager: the bridges that plug-ins register, one per URL protocol.
#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kBridgeMessages = {
    "Bridge manager is uninitialized",
    "Bridge with UID %d was not found",
    "Bridge with UID %d is being disposed",
    "Error while disposing of bridge (%d:'%s') while unitializing the bridge manager: %s",
};

struct BridgeEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<BridgeEntry>> g_registry{kBridgeMessages};

}  // namespace

void CvBridgeManager_Initialize(void) { g_registry->initialize(); }

int CvBridgeManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](BridgeEntry&) {});
}
