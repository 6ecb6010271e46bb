// Machine service manager: services of the computer as a whole.
#include <corvane.h>

#include "core/never_destroyed.h"
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
};

struct MachineServiceEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<MachineServiceEntry>> g_registry{kMachineServiceMessages};

}  // namespace

void CvMachineServiceManager_Initialize(void) { g_registry->initialize(); }

int CvMachineServiceManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](MachineServiceEntry&) {});
}
