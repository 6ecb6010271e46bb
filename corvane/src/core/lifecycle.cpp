// Bringing the framework up and down: the order in which its managers start and
// stop, and the roll-back when a registry refuses to shut down.
#include <corvane.h>

#include <array>
#include <cstddef>

namespace {

struct RegistryStep {
    void (*initialize)();
    int (*uninitialize)(CvError*);
};

// Shut-down order: machines are disposed of by their bridges before plug-ins are
// unloaded, and plug-ins unregister their things before the remaining registries
// are swept.
constexpr std::array<RegistryStep, 6> kRegistriesInShutdownOrder = {{
    {CvMachineManager_Initialize, CvMachineManager_Uninitialize},
    {CvPluginManager_Initialize, CvPluginManager_Uninitialize},
    {CvBridgeManager_Initialize, CvBridgeManager_Uninitialize},
    {CvServerManager_Initialize, CvServerManager_Uninitialize},
    {CvResourceManager_Initialize, CvResourceManager_Uninitialize},
    {CvMachineServiceManager_Initialize, CvMachineServiceManager_Uninitialize},
}};

}  // namespace

const char* CvGetVersion(void) { return "1.12.4.0"; }

void CvInitialize(void)
{
    CrtInitialize();
    CvLogEventManager_Initialize();
    CvWorkManager_Initialize();
    CvHotplugEventManager_Initialize();
    // Registries start in the reverse of their shut-down order.
    for (std::size_t i = kRegistriesInShutdownOrder.size(); i-- > 0;) kRegistriesInShutdownOrder[i].initialize();
}

int CvUninitialize(CvError* error)
{
    for (std::size_t i = 0; i < kRegistriesInShutdownOrder.size(); ++i) {
        if (kRegistriesInShutdownOrder[i].uninitialize(error) == 0) {
            // Leave the framework as it was: the registries already shut down in
            // this call run again (empty); the error is the failing one's.
            while (i-- > 0) kRegistriesInShutdownOrder[i].initialize();
            return 0;
        }
    }
    CvHotplugEventManager_Uninitialize();
    CvWorkManager_Uninitialize();
    CvLogEventManager_Uninitialize();
    CrtUninitialize();
    return CvSetNoThreadError(error);
}
