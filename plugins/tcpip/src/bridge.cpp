#include "bridge.h"

#include <cstring>

#include "bridge_machine.h"
#include "bridge_machine_list.h"
#include "bridge_url.h"

namespace cvpl_tcpip {
namespace {

constinit CvUID g_bridge = CV_UID_NONE;

MachineList& Machines()
{
    static MachineList machines;
    return machines;
}

void CopyText(char* field, std::size_t size, const char* text)
{
    std::strncpy(field, text, size - 1);
    field[size - 1] = '\0';
}

// Runs while the machine manager holds its mutex: touches only the machine
// list and the new machine's state.
int InitializeMachineDescriptor(void*, CvUID machine, CvMachineDescriptor* descriptor, CvError* error)
{
    InetAddress server{};
    if (ParseMachineUrl(descriptor->url, &server, error) == 0) return 0;
    if (!Machines().add(machine))
        return CvSetThreadError(error, CV_ERROR_FAILED, "Machine list full, unable to fill out new machine descriptor");
    if (!FillMachineDescriptor(machine, server, Machines(), descriptor)) {
        Machines().remove(machine);
        return CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory while creating machine %d",
                                static_cast<int>(machine));
    }
    return CvSetNoThreadError(error);
}

// Destroys the bridge's machines, oldest first; each one's dispose takes it off
// the list. Stops at the first machine that cannot be destroyed.
int DisposeBridge(void*, CvError* error)
{
    for (const CvUID machine : Machines().snapshot())
        if (CvMachineManager_DestroyMachine(machine, error) == 0) return 0;
    return CvSetNoThreadError(error);
}

}  // namespace

int RegisterBridge(CvError* error)
{
    Machines().clear();
    CvBridgeDescriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    CopyText(descriptor.info.name, sizeof descriptor.info.name, "TCP/IP Access Bridge");
    CopyText(descriptor.info.description, sizeof descriptor.info.description,
             "Allows a client to access resources and services over a TCP/IP network");
    CopyText(descriptor.info.protocol, sizeof descriptor.info.protocol, "cv-tcpip");
    descriptor.userData = nullptr;
    descriptor.initializeMachineDescriptor = InitializeMachineDescriptor;
    descriptor.dispose = DisposeBridge;
    return CvBridgeManager_Register(&descriptor, &g_bridge, error);
}

int UnregisterBridge(CvError* error)
{
    if (g_bridge == CV_UID_NONE) return CvSetNoThreadError(error);
    if (CvBridgeManager_Unregister(g_bridge, error) == 0) return 0;
    g_bridge = CV_UID_NONE;
    return 1;
}

}  // namespace cvpl_tcpip
