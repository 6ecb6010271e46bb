// One machine of the local access bridge: its connection state, the client's
// listeners, and the function table that passes each call to the managers of
// this process.
#pragma once

#include <corvane.h>

#include <cstdint>
#include <mutex>

namespace cvpl_local {

class MachineList;

struct LocalMachine {
    LocalMachine(CvUID machineUid, MachineList& owner) : machine(machineUid), list(owner) {}

    // Serialises connect, disconnect and the listener setters, and is held while
    // they attach or detach listeners, so the listeners are attached exactly
    // while the machine is connected. Forwarded calls never take it.
    std::mutex listenerChange;
    // Guards the fields below; held only to read or change them.
    std::mutex mutex;
    int32_t connected = 0;
    const CvUID machine;
    CvUID client = CV_UID_NONE;  // drawn at the first connect, kept for the machine's life
    CvHotplugListener* eventListener = nullptr;
    CvLogListener* logListener = nullptr;

    MachineList& list;  // the bridge's list, which the machine leaves when disposed
};

// Creates the machine's state and fills the user data and all eighteen function
// slots of its descriptor. False only when memory runs out.
bool FillMachineDescriptor(CvUID machine, MachineList& list, CvMachineDescriptor* descriptor);

// Checks that the machine is connected and reads its client UID; fails with
// "Machine %d is not connected" otherwise.
bool RequireConnected(LocalMachine& machine, CvUID* client, CvError* error);

}  // namespace cvpl_local
