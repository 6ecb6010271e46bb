// One machine of the remote machine bridge: its connection to the server, the
// client's listeners, and the eighteen machine operations carried to the
// server as calls.
#pragma once

#include <corvane.h>

#include "bridge_machine_list.h"
#include "rpc_client.h"

namespace cvpl_tcpip {

class RemoteMachine final : public RpcClient::SignalSink {
public:
    RemoteMachine(CvUID machine, InetAddress server, MachineList& list) : client(machine, server, *this), machines(list)
    {
    }

    // Runs on the work thread: hands a server signal to the listener or the
    // submitter it is for.
    void deliver(const SignalPacket& signal) override;
    void completeAborted(std::vector<PendingSubmit>& submits, const std::string& reason) override;

    RpcClient client;
    // Guarded by client.mutex(); each kept alive by its owner while set.
    CvHotplugListener* eventListener = nullptr;
    CvLogListener* logListener = nullptr;
    MachineList& machines;  // the bridge's list, which the machine leaves when disposed

private:
    void deliverHotplug(const SignalPacket& signal);
    void deliverLog(const SignalPacket& signal);
    void deliverCompletion(const SignalPacket& signal);
    CvHotplugListener* currentEventListener();
};

// Creates the machine's connection and fills the user data and all eighteen
// function slots. False only when memory runs out.
bool FillMachineDescriptor(CvUID machine, InetAddress server, MachineList& list, CvMachineDescriptor* descriptor);

}  // namespace cvpl_tcpip
