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
    switch (signal) {
        case rpc::kStartHotplugEvents: CvHotplugEventManager_AddListener(&client.hotplugListener); break;
        case rpc::kStopHotplugEvents: CvHotplugEventManager_RemoveListener(&client.hotplugListener); break;
        case rpc::kStartLogEvents: CvLogEventManager_AddListener(&client.logListener); break;
        case rpc::kStopLogEvents: CvLogEventManager_RemoveListener(&client.logListener); break;
        default: break;
    }
}

}  // namespace cvpl_tcpip::server
