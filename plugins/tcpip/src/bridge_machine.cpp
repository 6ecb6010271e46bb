#include "bridge_machine.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "rpc_protocol.h"

namespace cvpl_tcpip {
namespace {

using rpc::PacketBuilder;

RemoteMachine& Machine(void* userData)
{
    return *static_cast<RemoteMachine*>(userData);
}

std::vector<uint8_t> CallPacket(uint8_t function)
{
    return rpc::EmptyPacket(rpc::kCall, function);
}

// ---- Connection ------------------------------------------------------------------

int Connect(void* userData, const StringMap*, CvError* error)
{
    RemoteMachine& machine = Machine(userData);
    std::lock_guard lifecycle(machine.client.lifecycle());
    std::vector<uint8_t> startSignals;
    {
        std::lock_guard held(machine.client.mutex());
        if (machine.logListener != nullptr) startSignals.push_back(rpc::kStartLogEvents);
        if (machine.eventListener != nullptr) startSignals.push_back(rpc::kStartHotplugEvents);
    }
    return machine.client.connect(startSignals, error);
}

int Disconnect(void* userData, CvError* error)
{
    RemoteMachine& machine = Machine(userData);
    std::lock_guard lifecycle(machine.client.lifecycle());
    machine.client.tearDown();
    return CvSetNoThreadError(error);
}

int IsConnected(void* userData, int* connected, CvError* error)
{
    *connected = Machine(userData).client.isConnected() ? 1 : 0;
    return CvSetNoThreadError(error);
}

// Stores the new listener once no signal is being delivered and tells a
// connected server whether events are wanted now.
template <class Listener>
int SwapListener(RemoteMachine& machine, Listener* RemoteMachine::*slot, Listener* listener, Listener** previous,
                 uint8_t startSignal, uint8_t stopSignal, CvError* error)
{
    std::lock_guard lifecycle(machine.client.lifecycle());
    Listener* old = nullptr;
    machine.client.whenNoSignals([&] {
        old = machine.*slot;
        machine.*slot = listener;
    });
    if (previous != nullptr) *previous = old;
    if (machine.client.isConnected()) {
        if (old != nullptr && listener == nullptr) return machine.client.sendSignal(stopSignal, error);
        if (old == nullptr && listener != nullptr) return machine.client.sendSignal(startSignal, error);
    }
    return CvSetNoThreadError(error);
}

int SetEventListener(void* userData, CvHotplugListener* listener, CvHotplugListener** previous, CvError* error)
{
    return SwapListener(Machine(userData), &RemoteMachine::eventListener, listener, previous, rpc::kStartHotplugEvents,
                        rpc::kStopHotplugEvents, error);
}

int SetLoggingListener(void* userData, CvLogListener* listener, CvLogListener** previous, CvError* error)
{
    return SwapListener(Machine(userData), &RemoteMachine::logListener, listener, previous, rpc::kStartLogEvents,
                        rpc::kStopLogEvents, error);
}

// ---- Lists and info ---------------------------------------------------------------

int GetResourceList(void* userData, CvUIDList* list, CvError* error)
{
    return Machine(userData).client.callFixed(rpc::kGetResourceList, CallPacket(rpc::kGetResourceList), list,
                                              rpc::kUIDListSize, error);
}

int GetMachineServiceList(void* userData, CvUIDList* list, CvError* error)
{
    return Machine(userData).client.callFixed(rpc::kGetMachineServiceList, CallPacket(rpc::kGetMachineServiceList),
                                              list, rpc::kUIDListSize, error);
}

int MachineServiceGetInfo(void* userData, CvUID service, CvServiceInfo* info, CvError* error)
{
    return Machine(userData).client.callFixed(
        rpc::kMachineServiceGetInfo, PacketBuilder(rpc::kCall, rpc::kMachineServiceGetInfo).U32(service).Finish(), info,
        rpc::kServiceInfoSize, error);
}

int ResourceGetInfo(void* userData, CvUID resource, CvResourceInfo* info, CvError* error)
{
    return Machine(userData).client.callFixed(rpc::kGetResourceInfo,
                                              PacketBuilder(rpc::kCall, rpc::kGetResourceInfo).U32(resource).Finish(),
                                              info, rpc::kResourceInfoSize, error);
}

int ResourceGetServiceList(void* userData, CvUID resource, CvUIDList* list, CvError* error)
{
    return Machine(userData).client.callFixed(
        rpc::kGetResourceServiceList, PacketBuilder(rpc::kCall, rpc::kGetResourceServiceList).U32(resource).Finish(),
        list, rpc::kUIDListSize, error);
}

int ResourceServiceGetInfo(void* userData, CvUID resource, CvUID service, CvServiceInfo* info, CvError* error)
{
    return Machine(userData).client.callFixed(
        rpc::kResourceServiceGetInfo,
        PacketBuilder(rpc::kCall, rpc::kResourceServiceGetInfo).U32(resource).U32(service).Finish(), info,
        rpc::kServiceInfoSize, error);
}

// ---- Commands -----------------------------------------------------------------------

// The command as it travels: no addresses, and length 0 for every buffer the
// caller does not pass.
CvCommand WireCommand(const CvCommand& command)
{
    CvCommand wire = command;
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
        wire.buffers[i] = nullptr;
        if (command.buffers[i] == nullptr) wire.bufferLengths[i] = 0;
    }
    return wire;
}

// Builds a command call in one of the connection's spare buffers: the UID(s)
// and the wire command; the data of its buffers follows from where it is, as
// the trailer.
int CommandPacket(RpcClient& client, uint8_t function, CvUID resource, CvUID service, const CvCommand& command,
                  const CvCommand& wire, uint64_t expectedResponse, std::vector<uint8_t>* packet, Trailer* trailer,
                  CvError* error)
{
    const uint64_t prefix = (resource != CV_UID_NONE ? 2 : 1) * rpc::kUIDSize + rpc::kCommandSize;
    const uint64_t data = rpc::CommandDataLength(wire);
    if (RpcClient::CheckPayloadSizes(prefix + data, expectedResponse, error) == 0) return 0;
    try {
        const auto size = static_cast<std::size_t>(prefix);
        PacketBuilder builder(client.buffers().take(rpc::kHeaderSize + size), size, rpc::kCall, function);
        if (resource != CV_UID_NONE) builder.U32(resource);
        builder.U32(service).Raw(wire);
        trailer->clear();
        for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i)
            if (wire.bufferLengths[i] != 0) trailer->push_back({command.buffers[i], wire.bufferLengths[i]});
        *packet = builder.Finish(static_cast<std::size_t>(data));
    } catch (const std::bad_alloc&) {
        return CvSetThreadError(error, CV_ERROR_INTERNAL, "Unable to allocate memory for outgoing tcpip packet");
    }
    return 1;
}

int Execute(RemoteMachine& machine, uint8_t function, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    const CvCommand wire = WireCommand(*command);
    const uint64_t expected = rpc::kCommandSize + rpc::CommandDataLength(wire);
    std::vector<uint8_t> packet;
    Trailer trailer;
    if (CommandPacket(machine.client, function, resource, service, *command, wire, expected, &packet, &trailer,
                      error) == 0)
        return 0;
    // The returned data lands in the caller's buffers as it is read.
    Trailer landing;
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i)
        if (wire.bufferLengths[i] != 0) landing.push_back({command->buffers[i], wire.bufferLengths[i]});
    std::vector<uint8_t> response;
    bool landed = false;
    int ok = machine.client.call(std::move(packet), expected, &response, error, trailer, &landing, &landed);
    const uint64_t received = landed ? expected : response.size();
    if (ok != 0 && received != expected) ok = WrongAnswerLength(error, function, response.size(), expected);
    if (ok != 0) {
        rpc::PayloadReader reader(response.data(), response.size());
        CvCommand executed;
        reader.Raw(&executed);
        command->result = executed.result;
        // Otherwise the data block holds the buffers that travelled: the wire
        // lengths, landing in the caller's buffers.
        if (!landed) {
            CvCommand into = wire;
            std::copy(std::begin(command->buffers), std::end(command->buffers), into.buffers);
            reader.CommandData(into);
        }
    }
    machine.client.buffers().give(std::move(response));
    return ok;
}

int Submit(RemoteMachine& machine, uint8_t function, CvUID resource, CvUID service, CvCommand* command,
           CvCommandCompletion* completion, CvError* error)
{
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i)
        if (command->bufferLengths[i] != 0 && command->buffers[i] == nullptr)
            return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Buffer %d has a length but is null", i);
    const CvCommand wire = WireCommand(*command);
    std::vector<uint8_t> packet;
    Trailer trailer;
    if (CommandPacket(machine.client, function, resource, service, *command, wire, 0, &packet, &trailer, error) == 0)
        return 0;
    return machine.client.callSubmit(function, std::move(packet),
                                     PendingSubmit{resource, service, command, completion, false}, error, trailer);
}

int Abort(RemoteMachine& machine, uint8_t function, CvUID resource, CvUID service, uint32_t tag, CvError* error)
{
    PacketBuilder builder(rpc::kCall, function);
    if (resource != CV_UID_NONE) builder.U32(resource);
    builder.U32(service).U32(tag);
    return machine.client.callFixed(function, builder.Finish(), nullptr, 0, error);
}

int MachineServiceExecute(void* userData, CvUID service, CvCommand* command, CvError* error)
{
    return Execute(Machine(userData), rpc::kMachineServiceExecute, CV_UID_NONE, service, command, error);
}

int MachineServiceSubmit(void* userData, CvUID service, CvCommand* command, CvCommandCompletion* completion,
                         CvError* error)
{
    return Submit(Machine(userData), rpc::kMachineServiceSubmit, CV_UID_NONE, service, command, completion, error);
}

int MachineServiceAbort(void* userData, CvUID service, uint32_t tag, CvError* error)
{
    return Abort(Machine(userData), rpc::kMachineServiceAbort, CV_UID_NONE, service, tag, error);
}

int ResourceServiceExecute(void* userData, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    return Execute(Machine(userData), rpc::kResourceServiceExecute, resource, service, command, error);
}

int ResourceServiceSubmit(void* userData, CvUID resource, CvUID service, CvCommand* command,
                          CvCommandCompletion* completion, CvError* error)
{
    return Submit(Machine(userData), rpc::kResourceServiceSubmit, resource, service, command, completion, error);
}

int ResourceServiceAbort(void* userData, CvUID resource, CvUID service, uint32_t tag, CvError* error)
{
    return Abort(Machine(userData), rpc::kResourceServiceAbort, resource, service, tag, error);
}

// Tears the connection down, waits for the signals still queued, leaves the
// bridge's list and frees the machine.
int Dispose(void* userData, CvError* error)
{
    std::unique_ptr<RemoteMachine> machine(&Machine(userData));
    {
        std::lock_guard lifecycle(machine->client.lifecycle());
        machine->client.tearDown();
        machine->client.waitForSignals();
    }
    machine->machines.remove(machine->client.machine());
    return CvSetNoThreadError(error);
}

}  // namespace

// ---- Signals from the server --------------------------------------------------------

CvHotplugListener* RemoteMachine::currentEventListener()
{
    std::lock_guard held(client.mutex());
    return eventListener;
}

void RemoteMachine::deliver(const SignalPacket& signal)
{
    switch (signal.function) {
    case rpc::kMachineServiceAdded:
    case rpc::kMachineServiceRemoved:
    case rpc::kResourceAdded:
    case rpc::kResourceRemoved:
    case rpc::kResourceServiceAdded:
    case rpc::kResourceServiceRemoved:
        deliverHotplug(signal);
        return;
    case rpc::kLog:
        deliverLog(signal);
        return;
    case rpc::kMachineServiceCommandComplete:
    case rpc::kResourceServiceCommandComplete:
        deliverCompletion(signal);
        return;
    default:
        CvLog(CV_LOG_ERROR, "Unknown RPC signal function: %d", signal.function);
    }
}

void RemoteMachine::deliverHotplug(const SignalPacket& signal)
{
    static constexpr uint32_t kLengths[] = {
        rpc::kMachineServiceAddedSize,  rpc::kUIDSize,     rpc::kResourceAddedSize, rpc::kUIDSize,
        rpc::kResourceServiceAddedSize, 2 * rpc::kUIDSize,
    };
    const int length = static_cast<int>(signal.payload.size());
    if (signal.payload.size() != kLengths[signal.function - rpc::kMachineServiceAdded]) {
        switch (signal.function) {
        case rpc::kMachineServiceAdded:
            CvLog(CV_LOG_ERROR, "Invalid length for machine service added signal: %d bytes", length);
            break;
        case rpc::kMachineServiceRemoved:
            CvLog(CV_LOG_ERROR, "Invalid length for machine service removed signal: %d bytes", length);
            break;
        case rpc::kResourceAdded:
            CvLog(CV_LOG_ERROR, "Invalid length for resource added signal: %d bytes", length);
            break;
        case rpc::kResourceRemoved:
            CvLog(CV_LOG_ERROR, "Invalid length resource removed signal: %d bytes", length);
            break;
        case rpc::kResourceServiceAdded:
            CvLog(CV_LOG_ERROR, "Invalid length for resource service added signal: %d bytes", length);
            break;
        default:
            CvLog(CV_LOG_ERROR, "Invalid length for resource service removed signal: %d bytes", length);
            break;
        }
        return;
    }
    CvHotplugListener* listener = currentEventListener();
    if (listener == nullptr) return;

    rpc::PayloadReader reader(signal.payload.data(), signal.payload.size());
    uint32_t first = 0;
    uint32_t second = 0;
    CvServiceInfo service{};
    CvResourceInfo resource{};
    reader.U32(&first);
    switch (signal.function) {
    case rpc::kMachineServiceAdded:
        reader.Raw(&service);
        service.type[sizeof service.type - 1] = '\0';
        if (listener->machineServiceAdded != nullptr)
            listener->machineServiceAdded(listener->userData, first, &service);
        break;
    case rpc::kMachineServiceRemoved:
        if (listener->machineServiceRemoved != nullptr) listener->machineServiceRemoved(listener->userData, first);
        break;
    case rpc::kResourceAdded:
        reader.Raw(&resource);
        resource.name[sizeof resource.name - 1] = '\0';
        resource.description[sizeof resource.description - 1] = '\0';
        if (listener->resourceAdded != nullptr) listener->resourceAdded(listener->userData, first, &resource);
        break;
    case rpc::kResourceRemoved:
        if (listener->resourceRemoved != nullptr) listener->resourceRemoved(listener->userData, first);
        break;
    case rpc::kResourceServiceAdded:
        reader.U32(&second);
        reader.Raw(&service);
        service.type[sizeof service.type - 1] = '\0';
        if (listener->resourceServiceAdded != nullptr)
            listener->resourceServiceAdded(listener->userData, first, second, &service);
        break;
    default:
        reader.U32(&second);
        if (listener->resourceServiceRemoved != nullptr)
            listener->resourceServiceRemoved(listener->userData, first, second);
        break;
    }
}

void RemoteMachine::deliverLog(const SignalPacket& signal)
{
    const std::size_t length = signal.payload.size();
    if (length < rpc::kLogMinSize || length > rpc::kLogMaxSize) {
        CvLog(CV_LOG_ERROR, "Invalid length for log signal: %d bytes", static_cast<int>(length));
        return;
    }
    CvLogListener* listener = nullptr;
    {
        std::lock_guard held(client.mutex());
        listener = logListener;
    }
    if (listener == nullptr || listener->log == nullptr) return;
    std::string text(reinterpret_cast<const char*>(signal.payload.data()) + 1, length - 1);
    text.back() = '\0';
    listener->log(listener->userData, signal.payload[0], text.c_str());
}

void RemoteMachine::deliverCompletion(const SignalPacket& signal)
{
    const bool forResource = signal.function == rpc::kResourceServiceCommandComplete;
    const uint32_t prefix = forResource ? rpc::kResourceCompletePrefix : rpc::kMachineCompletePrefix;
    const std::size_t length = signal.payload.size();
    auto wrongLength = [&](CvError* record) {
        if (forResource)
            return CvSetError(record, CV_ERROR_INTERNAL,
                              "Invalid length for resource service command complete signal: %d bytes",
                              static_cast<int>(length));
        return CvSetError(record, CV_ERROR_INTERNAL,
                          "Invalid length for machine service command complete signal: %d bytes",
                          static_cast<int>(length));
    };
    if (length < prefix) {
        // Nothing names the submit, so there is no command to complete.
        CvError message{};
        wrongLength(&message);
        CvLog(CV_LOG_ERROR, "%s", message.message);
        return;
    }
    rpc::PayloadReader reader(signal.payload.data(), length);
    uint32_t resource = CV_UID_NONE;
    uint32_t service = 0;
    CvCommand completed{};
    CvError outcome{};
    if (forResource) reader.U32(&resource);
    reader.U32(&service);
    reader.Raw(&completed);
    reader.Raw(&outcome);

    PendingSubmit submit{};
    if (!client.takePendingSubmit(resource, service, completed.tag, &submit)) {
        // Only a completion that matches an accepted submit is reported to the
        // machine manager: a stray one would lower the count of another command.
        if (forResource)
            CvLog(CV_LOG_ERROR,
                  "Could not find async command for resource %d, service %d, tag %d while processing machine service "
                  "command complete signal",
                  static_cast<int>(resource), static_cast<int>(service), static_cast<int>(completed.tag));
        else
            CvLog(CV_LOG_ERROR,
                  "Could not find async command for machine service %d, tag %d while processing machine service "
                  "command complete signal",
                  static_cast<int>(service), static_cast<int>(completed.tag));
        return;
    }
    CvCommandCompletion* completion = submit.completion;
    if (length == prefix + rpc::CommandDataLength(*submit.command)) {
        outcome.message[CV_ERROR_MESSAGE_SIZE - 1] = '\0';
        completion->error = outcome;
        submit.command->result = completed.result;
        reader.CommandData(*submit.command);
    } else {
        wrongLength(&completion->error);
    }
    if (completion->complete != nullptr) completion->complete(completion, submit.command);
    CvMachine_NotifyCommandCompleted(client.machine());
}

void RemoteMachine::completeAborted(std::vector<PendingSubmit>& submits, const std::string& reason)
{
    for (PendingSubmit& submit : submits) {
        CvSetError(&submit.completion->error, CV_ERROR_FAILED, "RPC request is aborted because %s", reason.c_str());
        if (submit.completion->complete != nullptr) submit.completion->complete(submit.completion, submit.command);
        CvMachine_NotifyCommandCompleted(client.machine());
    }
}

// ---- The descriptor ---------------------------------------------------------------------

bool FillMachineDescriptor(CvUID machine, InetAddress server, MachineList& list, CvMachineDescriptor* descriptor)
{
    RemoteMachine* state = nullptr;
    try {
        state = std::make_unique<RemoteMachine>(machine, server, list).release();
    } catch (const std::bad_alloc&) {
        return false;
    }
    descriptor->userData = state;
    descriptor->connect = Connect;
    descriptor->disconnect = Disconnect;
    descriptor->isConnected = IsConnected;
    descriptor->setEventListener = SetEventListener;
    descriptor->setLoggingListener = SetLoggingListener;
    descriptor->getResourceList = GetResourceList;
    descriptor->getMachineServiceList = GetMachineServiceList;
    descriptor->machineServiceGetInfo = MachineServiceGetInfo;
    descriptor->machineServiceExecuteCommand = MachineServiceExecute;
    descriptor->machineServiceSubmitCommand = MachineServiceSubmit;
    descriptor->machineServiceAbortCommand = MachineServiceAbort;
    descriptor->resourceGetInfo = ResourceGetInfo;
    descriptor->resourceGetServiceList = ResourceGetServiceList;
    descriptor->resourceServiceGetInfo = ResourceServiceGetInfo;
    descriptor->resourceServiceExecuteCommand = ResourceServiceExecute;
    descriptor->resourceServiceSubmitCommand = ResourceServiceSubmit;
    descriptor->resourceServiceAbortCommand = ResourceServiceAbort;
    descriptor->dispose = Dispose;
    return true;
}

}  // namespace cvpl_tcpip
