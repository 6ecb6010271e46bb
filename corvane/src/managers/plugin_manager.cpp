// Plug-in manager: the plug-in libraries loaded into this process.
#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kPluginMessages = {
    "Plugin manager is uninitialized",
    "Plugin with UID %d was not found",
    "Plugin with UID %d is being disposed",
    "Error while disposing of plugin (%d:'%s') while unitializing the plugin manager: %s",
};

struct PluginEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<PluginEntry>> g_registry{kPluginMessages};

}  // namespace

void CvPluginManager_Initialize(void) { g_registry->initialize(); }

int CvPluginManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](PluginEntry&) {});
}
