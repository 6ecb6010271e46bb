// The stand-in's command entry point: library, controller, physical device and
// pass-through commands over the farm of this library's family.
#include "sim_storelib.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>

#include "simdrive/ata_drive.h"
#include "simdrive/register_fis.h"
#include "simdrive/scsi_drive.h"
#include "storelib_farm.h"

#ifndef SIM_STORELIB_LIBRARY_INDEX
#error "SIM_STORELIB_LIBRARY_INDEX names the family this library stands in for"
#endif

namespace simdrive::storelib {

namespace {

constexpr uint32_t kLibraryIndex = SIM_STORELIB_LIBRARY_INDEX;
constexpr char kVersion[] = "7.26.03.00";
constexpr uint32_t kNexus = 0x5100 + kLibraryIndex;
constexpr uint8_t kPhyCount = 8;

struct State {
    std::mutex mutex;
    bool initialized = false;
    Farm farm;
    SimStoreLibObserved observed{};
};

State& state() {
    static State s;
    return s;
}

template <typename T>
void put(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

std::span<uint8_t> dataOf(const StoreLibCommandRecord& command) {
    return {static_cast<uint8_t*>(command.data), command.data == nullptr ? 0 : command.dataSize};
}

const FarmController* findController(uint32_t id) {
    for (const FarmController& controller : state().farm.controllers) {
        if (controller.id == id) return &controller;
    }
    return nullptr;
}

const FarmDrive* findDrive(const FarmController& controller, uint16_t deviceId) {
    for (const FarmDrive& drive : controller.drives) {
        if (drive.deviceId == deviceId) return &drive;
    }
    return nullptr;
}

uint32_t initialize() {
    Farm farm;
    std::string error;
    if (!loadFarm(kLibraryIndex, farm, error)) {
        std::fprintf(stderr, "sim-storelib: %s\n", error.c_str());
        return kSimStatusInitializeRefused;
    }
    if (farm.initializeFails) return kSimStatusInitializeRefused;
    state().farm = std::move(farm);
    state().initialized = true;
    return STORELIB_STATUS_SUCCESS;
}

uint32_t libraryCommand(const StoreLibCommandRecord& command) {
    std::span<uint8_t> data = dataOf(command);
    switch (command.command) {
    case STORELIB_LIBRARY_INITIALIZE:
        if (data.size() < STORELIB_INITIALIZE_DATA_SIZE) return kSimStatusBadData;
        return initialize();
    case STORELIB_LIBRARY_UNINITIALIZE:
        state().farm = Farm{};
        state().initialized = false;
        return STORELIB_STATUS_SUCCESS;
    default:
        break;
    }
    if (!state().initialized) return kSimStatusNotInitialized;
    if (command.command == STORELIB_LIBRARY_VERSION) {
        if (data.size() < STORELIB_VERSION_DATA_SIZE) return kSimStatusBadData;
        std::memset(data.data(), 0, data.size());
        std::memcpy(data.data(), kVersion, sizeof kVersion);
        return STORELIB_STATUS_SUCCESS;
    }
    if (command.command == STORELIB_LIBRARY_CONTROLLER_LIST) {
        if (data.size() < STORELIB_CONTROLLER_LIST_SIZE) return kSimStatusBadData;
        std::memset(data.data(), 0, data.size());
        const auto& controllers = state().farm.controllers;
        uint16_t count = static_cast<uint16_t>(std::min<std::size_t>(controllers.size(), STORELIB_CONTROLLER_LIST_CAPACITY));
        put(data.data(), count);
        for (uint16_t i = 0; i < count; ++i) put(data.data() + 4 + 4 * i, controllers[i].id);
        return STORELIB_STATUS_SUCCESS;
    }
    return kSimStatusBadCommand;
}

uint32_t controllerCommand(const StoreLibCommandRecord& command, const FarmController& controller) {
    std::span<uint8_t> data = dataOf(command);
    if (command.command == STORELIB_CONTROLLER_INFO) {
        if (data.size() < STORELIB_CONTROLLER_INFO_SIZE) return kSimStatusBadData;
        std::memset(data.data(), 0, data.size());
        std::snprintf(reinterpret_cast<char*>(data.data()), 64, "Simulated StoreLib controller %u", controller.id);
        std::snprintf(reinterpret_cast<char*>(data.data() + STORELIB_CONTROLLER_LOCATION_OFFSET),
                      STORELIB_CONTROLLER_LOCATION_SIZE, "%s", controller.location.c_str());
        return STORELIB_STATUS_SUCCESS;
    }
    if (command.command == STORELIB_CONTROLLER_DEVICE_LIST) {
        if (data.size() < STORELIB_DEVICE_LIST_SIZE) return kSimStatusBadData;
        std::memset(data.data(), 0, data.size());
        auto* list = reinterpret_cast<StoreLibDeviceList*>(data.data());
        uint32_t count = 0;
        for (const FarmDrive& drive : controller.drives) {
            if (count == STORELIB_DEVICE_LIST_CAPACITY) break;
            StoreLibDeviceEntry& entry = list->entries[count++];
            entry.deviceId = drive.deviceId;
            entry.slot = drive.slot;
            entry.deviceType = drive.deviceType;
        }
        list->count = count;
        return STORELIB_STATUS_SUCCESS;
    }
    return kSimStatusBadCommand;
}

uint32_t deviceInfo(const StoreLibCommandRecord& command, const FarmDrive& drive) {
    std::span<uint8_t> data = dataOf(command);
    if (command.command != STORELIB_DEVICE_INFO) return kSimStatusBadCommand;
    if (data.size() < STORELIB_DEVICE_INFO_SIZE) return kSimStatusBadData;
    std::memset(data.data(), 0, data.size());
    put(data.data(), drive.deviceId);
    data[2] = drive.slot;
    put(data.data() + STORELIB_DEVICE_INFO_INTERFACE_OFFSET, static_cast<uint16_t>(drive.interfaceClass << 12));
    return STORELIB_STATUS_SUCCESS;
}

uint32_t phyInfo(const StoreLibCommandRecord& command) {
    if (command.data == nullptr || command.dataSize < STORELIB_PHY_REQUEST_SIZE) return kSimStatusBadData;
    StoreLibPhyRequest request;
    std::memcpy(&request, command.data, sizeof request);
    if (request.size != STORELIB_PHY_INFO_SIZE || request.buffer == nullptr) return kSimStatusBadData;
    auto* phys = static_cast<uint8_t*>(request.buffer);
    std::memset(phys, 0, STORELIB_PHY_INFO_SIZE);
    put(phys, static_cast<uint32_t>(STORELIB_PHY_INFO_SIZE));
    phys[4] = kPhyCount;
    return STORELIB_STATUS_SUCCESS;
}

AtaDataPhase phaseOf(uint32_t flags) {
    switch (flags) {
    case STORELIB_STP_PIO_IN:
    case STORELIB_STP_BLOCK_IN: return AtaDataPhase::PioIn;
    case STORELIB_STP_PIO_OUT:
    case STORELIB_STP_BLOCK_OUT: return AtaDataPhase::PioOut;
    case STORELIB_STP_DMA_IN: return AtaDataPhase::DmaIn;
    case STORELIB_STP_DMA_OUT: return AtaDataPhase::DmaOut;
    default: return AtaDataPhase::None;
    }
}

// The taskfile of a host-to-device register FIS, run on the drive, and the
// device-to-host register FIS of its answer.
uint32_t stpPassThrough(const StoreLibCommandRecord& command, AtaDrive& drive) {
    std::span<uint8_t> data = dataOf(command);
    if (data.size() < STORELIB_STP_REQUEST_SIZE) return kSimStatusBadData;
    auto* request = reinterpret_cast<StoreLibStpRequest*>(data.data());
    const uint8_t* fis = request->commandFis;
    if (fis[0] != STORELIB_FIS_REGISTER_H2D || request->dataOffset != STORELIB_STP_DATA_OFFSET ||
        request->dataLength > data.size() - STORELIB_STP_REQUEST_SIZE) {
        return kSimStatusBadData;
    }
    AtaRequest ata;
    ata.registers = registerFisInputs(fis);
    ata.extended = carriesExpandedRegisters(ata.registers);
    ata.phase = phaseOf(request->protocolFlags);
    ata.data = data.subspan(STORELIB_STP_REQUEST_SIZE, request->dataLength);
    AtaReply reply;
    if (drive.execute(ata, reply) == BusResult::DeviceGone) return kSimStatusDeviceGone;
    writeDeviceToHostFis(reply.registers, request->responseFis, sizeof request->responseFis);
    return STORELIB_STATUS_SUCCESS;
}

uint32_t scsiPassThrough(const StoreLibCommandRecord& command, ScsiDrive& drive) {
    std::span<uint8_t> data = dataOf(command);
    if (data.size() < STORELIB_SCSI_REQUEST_SIZE) return kSimStatusBadData;
    auto* request = reinterpret_cast<StoreLibScsiRequest*>(data.data());
    if (request->cdbLength == 0 || request->cdbLength > STORELIB_SCSI_CDB_CAPACITY ||
        request->dataLength > data.size() - STORELIB_SCSI_REQUEST_SIZE) {
        return kSimStatusBadData;
    }
    ScsiRequest scsi;
    scsi.nexus = kNexus;
    scsi.cdb = {request->cdb, request->cdbLength};
    if (request->direction == STORELIB_SCSI_DIRECTION_IN) scsi.direction = ScsiDataDirection::In;
    if (request->direction == STORELIB_SCSI_DIRECTION_OUT) scsi.direction = ScsiDataDirection::Out;
    // The simulated drives move data one way; both ways reads.
    if (request->direction == STORELIB_SCSI_DIRECTION_BOTH) scsi.direction = ScsiDataDirection::In;
    scsi.data = data.subspan(STORELIB_SCSI_DATA_OFFSET, request->dataLength);
    ScsiReply reply;
    if (request->logicalUnit != 0) {
        reply.status = scsi::kStatusCheckCondition;
        reply.senseLength = scsi::kFixedSenseLength;
        reply.sense[0] = 0x70;
        reply.sense[2] = scsi::kKeyIllegalRequest;
        reply.sense[7] = 10;
        reply.sense[12] = 0x25;  // logical unit not supported
    } else if (drive.execute(scsi, reply) == BusResult::DeviceGone) {
        return kSimStatusDeviceGone;
    }
    request->scsiStatus = reply.status;
    request->dataLength = reply.transferred;
    uint32_t senseLength = command.sense == nullptr ? 0 : std::min<uint32_t>(reply.senseLength, command.senseSize);
    if (senseLength > 0) std::memcpy(command.sense, reply.sense.data(), senseLength);
    request->senseLength = static_cast<uint8_t>(senseLength);
    return STORELIB_STATUS_SUCCESS;
}

uint32_t passThrough(const StoreLibCommandRecord& command, const FarmController& controller) {
    {
        SimStoreLibObserved& seen = state().observed;
        seen.command = command;
        std::memset(seen.request, 0, sizeof seen.request);
        if (command.data != nullptr) {
            std::memcpy(seen.request, command.data, std::min<uint32_t>(command.dataSize, sizeof seen.request));
        }
        ++seen.passThroughCalls;
    }
    if (command.command == STORELIB_PASS_THROUGH_PHY_INFO) return phyInfo(command);
    // Only the low byte of the device ID reaches an STP request.
    const FarmDrive* entry = findDrive(controller, command.deviceId);
    if (entry == nullptr) return kSimStatusNoDevice;
    if (command.command == STORELIB_PASS_THROUGH_STP) {
        auto* ata = dynamic_cast<AtaDrive*>(entry->drive.get());
        return ata != nullptr ? stpPassThrough(command, *ata) : kSimStatusNoDevice;
    }
    if (command.command == STORELIB_PASS_THROUGH_SCSI) {
        auto* scsi = dynamic_cast<ScsiDrive*>(entry->drive.get());
        return scsi != nullptr ? scsiPassThrough(command, *scsi) : kSimStatusNoDevice;
    }
    return kSimStatusBadCommand;
}

uint32_t execute(const StoreLibCommandRecord& command) {
    if (command.commandClass == STORELIB_CLASS_LIBRARY) return libraryCommand(command);
    if (!state().initialized) return kSimStatusNotInitialized;
    const FarmController* controller = findController(command.controllerId);
    if (controller == nullptr) return kSimStatusNoController;
    switch (command.commandClass) {
    case STORELIB_CLASS_CONTROLLER: return controllerCommand(command, *controller);
    case STORELIB_CLASS_PHYSICAL_DEVICE: {
        const FarmDrive* drive = findDrive(*controller, command.deviceId);
        return drive != nullptr ? deviceInfo(command, *drive) : kSimStatusNoDevice;
    }
    case STORELIB_CLASS_PASS_THROUGH: return passThrough(command, *controller);
    default: return kSimStatusBadCommand;
    }
}

}  // namespace

}  // namespace simdrive::storelib

// Commands run one at a time, as the drives' answers depend on their order.
SIM_STORELIB_API uint32_t StoreLibCommand(void* record) {
    using namespace simdrive::storelib;
    if (record == nullptr) return kSimStatusBadCommand;
    StoreLibCommandRecord command;
    std::memcpy(&command, record, sizeof command);
    std::lock_guard lock(state().mutex);
    return execute(command);
}

SIM_STORELIB_API void SimStoreLib_Observed(SimStoreLibObserved* observed) {
    using namespace simdrive::storelib;
    std::lock_guard lock(state().mutex);
    *observed = state().observed;
}
