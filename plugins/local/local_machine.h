// One machine of the local access bridge: its connection state, the client's
// listeners, and the function table that passes each call to the managers of
// this process.
#pragma once

#include <corvane.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace cvpl_local {

class MachineList;

struct LocalMachine : std::enable_shared_from_this<LocalMachine> {
    LocalMachine(CvUID machineUid, MachineList& owner) : machine(machineUid), list(owner) {}

    // Guards the fields below. Held only to read or change them: never across a
    // framework call or a call into the client's listeners, so a listener may
    // call back into this machine from any thread.
    std::mutex mutex;
    int32_t connected = 0;
    const CvUID machine;
    CvUID client = CV_UID_NONE;  // drawn at the first connect, kept for the machine's life
    CvHotplugListener* eventListener = nullptr;
    CvLogListener* logListener = nullptr;

    // Calls in progress into the client's listeners through this machine: which
    // thread, which listener. `delivered` is notified as each call returns.
    struct Delivery {
        std::thread::id thread;
        const void* listener;
    };
    std::vector<Delivery> delivering;
    std::condition_variable delivered;

    // The framework holds these two listeners, not the client's, from the first
    // connect until the machine is disposed; they pass each event and log line
    // on to the client's current listener while the machine is connected.
    // Attaching the client's listeners directly would mean calling the event
    // managers while changes are serialised, and a listener changing listeners
    // from the work thread would then wait for a change that waits for it.
    bool relaysAttached = false;
    CvHotplugListener eventRelay{};
    CvLogListener logRelay{};

    // The machine's own reference, dropped at dispose; a relay call in progress
    // holds another, so a listener may destroy the machine it is called for.
    std::shared_ptr<LocalMachine> self;

    MachineList& list;  // the bridge's list, which the machine leaves when disposed
};

// Creates the machine's state and fills the user data and all eighteen function
// slots of its descriptor. False only when memory runs out.
bool FillMachineDescriptor(CvUID machine, MachineList& list, CvMachineDescriptor* descriptor);

// Checks that the machine is connected and reads its client UID; fails with
// "Machine %d is not connected" otherwise.
bool RequireConnected(LocalMachine& machine, CvUID* client, CvError* error);

}  // namespace cvpl_local
