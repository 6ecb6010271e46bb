// The host-port stand-in: ports, devices and the library's functions.
#include "sim_hostport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>


namespace simdrive::hostport {

namespace {

constexpr char kMagic[4] = {'S', 'I', 'M', 'P'};
constexpr uint8_t kAscLogicalUnitNotSupported = 0x25;
constexpr uint32_t kNexusBase = 0x1000;

struct Port {
    PortRecord record{};
    std::vector<PortDevice> devices;
};

struct State {
    std::mutex mutex;
    std::vector<std::unique_ptr<Port>> ports;
    Observed observed;
    uint8_t taskResponse = 0;
    bool fail = false;
    uint16_t nextTag = 1;
};

State& state() {
    static State s;
    return s;
}

// The port whose record this is; -1 when it is none of ours.
int portIndex(const void* record) {
    if (record == nullptr) return -1;
    const auto* bytes = static_cast<const uint8_t*>(record);
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return -1;
    uint32_t index = 0;
    std::memcpy(&index, bytes + 4, sizeof index);
    return index < state().ports.size() ? static_cast<int>(index) : -1;
}

const PortDevice* findDevice(int port, uint32_t word0, uint32_t word1) {
    if (port < 0) return nullptr;
    for (const PortDevice& device : state().ports[static_cast<std::size_t>(port)]->devices) {
        if (device.entry[0] == word0 && device.entry[1] == word1) return &device;
    }
    return nullptr;
}

}  // namespace

void resetPorts() {
    std::lock_guard lock(state().mutex);
    state().ports.clear();
    state().observed = {};
    state().taskResponse = 0;
    state().fail = false;
}

void addDevice(uint32_t port, const PortDevice& device) {
    std::lock_guard lock(state().mutex);
    auto& ports = state().ports;
    while (ports.size() <= port) {
        auto created = std::make_unique<Port>();
        std::memcpy(created->record.data(), kMagic, sizeof kMagic);
        uint32_t index = static_cast<uint32_t>(ports.size());
        std::memcpy(created->record.data() + 4, &index, sizeof index);
        ports.push_back(std::move(created));
    }
    ports[port]->devices.push_back(device);
}

PortRecord portRecord(uint32_t port) {
    std::lock_guard lock(state().mutex);
    return port < state().ports.size() ? state().ports[port]->record : PortRecord{};
}

Observed observed() {
    std::lock_guard lock(state().mutex);
    return state().observed;
}

void setTaskResponse(uint8_t response) {
    std::lock_guard lock(state().mutex);
    state().taskResponse = response;
}

void setCallsFail(bool fail) {
    std::lock_guard lock(state().mutex);
    state().fail = fail;
}

}  // namespace simdrive::hostport

using namespace simdrive;
using namespace simdrive::hostport;

extern "C" {

SIM_HOSTPORT_API int lsiFindPorts(void** ports) {
    std::lock_guard lock(state().mutex);
    int count = static_cast<int>(std::min<std::size_t>(state().ports.size(), HOSTPORT_MAX_PORTS));
    for (int i = 0; i < count; ++i) ports[i] = state().ports[static_cast<std::size_t>(i)]->record.data();
    return count;
}

SIM_HOSTPORT_API int lsiScanForDevices(void* port, int* count, uint32_t (*devices)[4]) {
    std::lock_guard lock(state().mutex);
    int index = portIndex(port);
    if (index < 0 || count == nullptr) return 0;
    const auto& list = state().ports[static_cast<std::size_t>(index)]->devices;
    *count = static_cast<int>(std::min<std::size_t>(list.size(), HOSTPORT_MAX_DEVICES));
    for (int i = 0; i < *count; ++i) std::memcpy(devices[i], list[static_cast<std::size_t>(i)].entry.data(), 16);
    return 1;
}

SIM_HOSTPORT_API int lsiGetSerialNumber(void* port, uint32_t word0, uint32_t word1, char* serial) {
    std::lock_guard lock(state().mutex);
    const PortDevice* device = findDevice(portIndex(port), word0, word1);
    if (device == nullptr) return 0;
    std::memset(serial, 0, HOSTPORT_SERIAL_SIZE);
    std::strncpy(serial, device->serial.c_str(), HOSTPORT_SERIAL_SIZE - 1);
    return 1;
}

SIM_HOSTPORT_API void lsiClosePort(void* /*port*/) {}

SIM_HOSTPORT_API int lsiScsiIo(void* port, uint32_t word0, uint32_t word1, uint32_t /*zero*/, void* request,
                               uint32_t requestLength, void* reply, uint32_t replyLength, void* dataIn,
                               uint32_t dataInLength, void* dataOut, uint32_t dataOutLength, uint32_t timeoutSeconds,
                               uint32_t /*zero2*/, uint32_t cdbLength, const uint8_t* cdb, uint32_t control) {
    ScsiExecutor execute;
    int index = -1;
    {
        std::lock_guard lock(state().mutex);
        Observed& seen = state().observed;
        ++seen.scsiIoCalls;
        seen.control = control;
        seen.timeoutSeconds = timeoutSeconds;
        std::memcpy(seen.request.data(), request, std::min<uint32_t>(requestLength, HOSTPORT_REQUEST_SIZE));
        index = portIndex(port);
        const PortDevice* device = findDevice(index, word0, word1);
        if (state().fail || device == nullptr || requestLength != HOSTPORT_REQUEST_SIZE ||
            replyLength != HOSTPORT_REPLY_SIZE || cdbLength > 16) {
            errno = device == nullptr ? ENODEV : EIO;
            return 0;
        }
        execute = device->execute;
    }
    auto* out = static_cast<uint8_t*>(reply);
    std::memset(out, 0, replyLength);
    const auto* req = static_cast<const uint8_t*>(request);
    uint64_t lun = 0;
    std::memcpy(&lun, req + 12, sizeof lun);

    ScsiRequest scsiRequest;
    scsiRequest.nexus = kNexusBase + static_cast<uint32_t>(index);
    scsiRequest.cdb = {cdb, cdbLength};
    uint32_t length = 0;
    if ((control & HOSTPORT_CONTROL_READ) != 0) {
        scsiRequest.direction = ScsiDataDirection::In;
        scsiRequest.data = {static_cast<uint8_t*>(dataIn), dataInLength};
        length = dataInLength;
    } else if ((control & HOSTPORT_CONTROL_WRITE) != 0) {
        scsiRequest.direction = ScsiDataDirection::Out;
        scsiRequest.data = {static_cast<uint8_t*>(dataOut), dataOutLength};
        length = dataOutLength;
    }
    ScsiReply scsiReply;
    if (lun != 0) {
        // Only logical unit 0 exists behind each device.
        scsiReply.status = scsi::kStatusCheckCondition;
        scsiReply.senseLength = 18;
        scsiReply.sense[0] = 0x70;
        scsiReply.sense[2] = scsi::kKeyIllegalRequest;
        scsiReply.sense[7] = 10;
        scsiReply.sense[12] = kAscLogicalUnitNotSupported;
    } else if (execute(scsiRequest, scsiReply) == BusResult::DeviceGone) {
        errno = ENXIO;
        return 0;
    }
    uint16_t ioc = scsiReply.transferred < length ? HOSTPORT_IOC_STATUS_DATA_UNDERRUN : 0;
    uint32_t senseCount = std::min<uint32_t>(scsiReply.senseLength, HOSTPORT_REPLY_SIZE - HOSTPORT_SCSI_IO_REPLY_SIZE);
    uint16_t tag = 0;
    {
        std::lock_guard lock(state().mutex);
        tag = state().nextTag++;
    }
    out[HOSTPORT_REPLY_SCSI_STATUS] = scsiReply.status;
    std::memcpy(out + HOSTPORT_REPLY_IOC_STATUS, &ioc, sizeof ioc);
    std::memcpy(out + HOSTPORT_REPLY_TRANSFER_COUNT, &scsiReply.transferred, sizeof scsiReply.transferred);
    std::memcpy(out + HOSTPORT_REPLY_SENSE_COUNT, &senseCount, sizeof senseCount);
    std::memcpy(out + HOSTPORT_REPLY_TASK_TAG, &tag, sizeof tag);
    std::memcpy(out + HOSTPORT_SCSI_IO_REPLY_SIZE, scsiReply.sense.data(), senseCount);
    return 1;
}

SIM_HOSTPORT_API int lsiScsiTaskManagement(void* port, uint32_t taskType, uint32_t flags, uint32_t word0,
                                           uint32_t word1, uint32_t /*word2*/, uint32_t taskTag,
                                           uint32_t /*timeoutSeconds*/, uint8_t* response) {
    std::lock_guard lock(state().mutex);
    Observed& seen = state().observed;
    seen.taskType = taskType;
    seen.taskFlags = flags;
    seen.taskTag = taskTag;
    seen.taskTarget = word0;
    *response = state().taskResponse;
    return !state().fail && findDevice(portIndex(port), word0, word1) != nullptr ? 1 : 0;
}

SIM_HOSTPORT_API int lsiSendSasPrimitive(void* port, uint8_t phy, uint32_t primitive, uint32_t mode) {
    std::lock_guard lock(state().mutex);
    Observed& seen = state().observed;
    seen.primitive = primitive;
    seen.primitiveMode = mode;
    seen.primitivePhy = phy;
    return !state().fail && portIndex(port) >= 0 ? 1 : 0;
}

}  // extern "C"
