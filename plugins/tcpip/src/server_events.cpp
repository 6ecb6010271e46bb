// What the server sends on its own: hot-plug and log signals through the client's
// listeners, and the completion of submitted commands. Also the client's signals
// that switch that forwarding on and off.
#include <string.h>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

void SendHotplugSignal(Client& client, std::vector<uint8_t> packet, uint8_t signal) {
    if (!SendToClient(client, packet))
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send signal %d", static_cast<int>(client.uid), signal);
}

void MachineServiceAdded(void* userData, CvUID service, const CvServiceInfo* info) {
    CvServiceInfo copy{};
    if (info != nullptr) copy = *info;
    SendHotplugSignal(*static_cast<Client*>(userData),
                      rpc::PacketBuilder(rpc::kSignal, rpc::kMachineServiceAdded).U32(service).Raw(copy).Finish(),
                      rpc::kMachineServiceAdded);
}

void MachineServiceRemoved(void* userData, CvUID service) {
    SendHotplugSignal(*static_cast<Client*>(userData),
                      rpc::PacketBuilder(rpc::kSignal, rpc::kMachineServiceRemoved).U32(service).Finish(),
                      rpc::kMachineServiceRemoved);
}

void ResourceAdded(void* userData, CvUID resource, const CvResourceInfo* info) {
    CvResourceInfo copy{};
    if (info != nullptr) copy = *info;
    SendHotplugSignal(*static_cast<Client*>(userData),
                      rpc::PacketBuilder(rpc::kSignal, rpc::kResourceAdded).U32(resource).Raw(copy).Finish(),
                      rpc::kResourceAdded);
}

void ResourceRemoved(void* userData, CvUID resource) {
    SendHotplugSignal(*static_cast<Client*>(userData),
                      rpc::PacketBuilder(rpc::kSignal, rpc::kResourceRemoved).U32(resource).Finish(),
                      rpc::kResourceRemoved);
}

void ResourceServiceAdded(void* userData, CvUID resource, CvUID service, const CvServiceInfo* info) {
    CvServiceInfo copy{};
    if (info != nullptr) copy = *info;
    SendHotplugSignal(
        *static_cast<Client*>(userData),
        rpc::PacketBuilder(rpc::kSignal, rpc::kResourceServiceAdded).U32(resource).U32(service).Raw(copy).Finish(),
        rpc::kResourceServiceAdded);
}

void ResourceServiceRemoved(void* userData, CvUID resource, CvUID service) {
    SendHotplugSignal(*static_cast<Client*>(userData),
                      rpc::PacketBuilder(rpc::kSignal, rpc::kResourceServiceRemoved).U32(resource).U32(service).Finish(),
                      rpc::kResourceServiceRemoved);
}

// Runs on whatever thread logs; it must not log itself.
void LogLine(void* userData, int level, const char* message) {
    const char* text = message != nullptr ? message : "";
    const size_t length = strnlen(text, rpc::kLogTextMax);
    rpc::PacketBuilder packet(rpc::kSignal, rpc::kLog);
    packet.U8(static_cast<uint8_t>(level)).Bytes(text, length).U8(0);
    SendToClient(*static_cast<Client*>(userData), packet.Finish());
}

}  // namespace

void InitListeners(Client& client) {
    client.logListener.userData = &client;
    client.logListener.log = LogLine;
    client.hotplugListener.userData = &client;
    client.hotplugListener.machineServiceAdded = MachineServiceAdded;
    client.hotplugListener.machineServiceRemoved = MachineServiceRemoved;
    client.hotplugListener.resourceAdded = ResourceAdded;
    client.hotplugListener.resourceRemoved = ResourceRemoved;
    client.hotplugListener.resourceServiceAdded = ResourceServiceAdded;
    client.hotplugListener.resourceServiceRemoved = ResourceServiceRemoved;
}

void HandleClientSignal(Client& client, uint8_t signal, uint32_t length) {
    if (signal > rpc::kStopLogEvents) {
        CvLog(CV_LOG_ERROR, "Unknown RPC signal: %d; disconnecting misbehaving client", signal);
        client.connected.store(false);
        return;
    }
    if (length != 0) {
        CvLog(CV_LOG_ERROR, "Length must be 0 but was %d on signal 'start events'", static_cast<int>(length));
        client.connected.store(false);
        return;
    }
    // A start while started changes nothing: the client gets each event once,
    // and one stop ends it.
    switch (signal) {
        case rpc::kStartHotplugEvents:
            if (!client.hotplugAttached) CvHotplugEventManager_AddListener(&client.hotplugListener);
            client.hotplugAttached = true;
            break;
        case rpc::kStopHotplugEvents:
            if (client.hotplugAttached) CvHotplugEventManager_RemoveListener(&client.hotplugListener);
            client.hotplugAttached = false;
            break;
        case rpc::kStartLogEvents:
            if (!client.logAttached) CvLogEventManager_AddListener(&client.logListener);
            client.logAttached = true;
            break;
        case rpc::kStopLogEvents:
            if (client.logAttached) CvLogEventManager_RemoveListener(&client.logListener);
            client.logAttached = false;
            break;
        default: break;
    }
}

void DetachListeners(Client& client) {
    if (client.hotplugAttached) CvHotplugEventManager_RemoveListener(&client.hotplugListener);
    if (client.logAttached) CvLogEventManager_RemoveListener(&client.logListener);
    client.hotplugAttached = client.logAttached = false;
}

}  // namespace cvpl_tcpip::server
