// Machine manager: the machines this process works with, each served by a bridge.
#include <corvane.h>

#include "core/never_destroyed.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kMachineMessages = {
    "Machine manager is uninitialized",
    "Machine with UID %d was not found",
    "Machine with UID %d is being disposed",
    "Error while disposing of machine (%d:'%s') while unitializing the machine manager: %s",
};

struct MachineEntry : RegistryEntry {};

constinit NeverDestroyed<Registry<MachineEntry>> g_registry{kMachineMessages};

}  // namespace

void CvMachineManager_Initialize(void) { g_registry->initialize(); }

int CvMachineManager_Uninitialize(CvError* error)
{
    // Nothing can be registered yet, so shut-down has nothing to dispose of.
    return g_registry->uninitialize(error, [](MachineEntry&) {});
}
