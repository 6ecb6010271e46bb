// Server manager: servers that make this process's machine reachable from elsewhere.
#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kServerMessages = {
    "Server manager is uninitialized",
    "Server with UID %d was not found",
    "Server with UID %d is being disposed",
    "Error while disposing of server server (%d:'%s') while unitializing the server server manager: %s",
};

struct ServerEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<ServerEntry>> g_registry{kServerMessages};

}  // namespace

void CvServerManager_Initialize(void) { g_registry->initialize(); }

int CvServerManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](ServerEntry&) {});
}
