// How the simulated CSMI driver answers one request buffer.
#include "sim_csmi_adapter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "csmi/csmi_wire.h"
#include "simdrive/ata_drive.h"
#include "simdrive/register_fis.h"
#include "simdrive/scsi_drive.h"

namespace simdrive {

namespace {

constexpr uint8_t kVendorCommand = 0x80;
constexpr uint8_t kInitiatorProtocols = CSMI_PROTOCOL_SSP | CSMI_PROTOCOL_STP | CSMI_PROTOCOL_SMP;

void setReturnCode(uint8_t* buffer, uint32_t code) {
    std::memcpy(buffer + offsetof(CsmiHeader, returnCode), &code, sizeof code);
}

bool phaseOf(uint32_t flags, AtaDataPhase& phase) {
    switch (flags) {
    case CSMI_STP_NO_DATA: phase = AtaDataPhase::None; return true;
    case CSMI_STP_PIO_READ: phase = AtaDataPhase::PioIn; return true;
    case CSMI_STP_PIO_WRITE: phase = AtaDataPhase::PioOut; return true;
    case CSMI_STP_DMA_READ: phase = AtaDataPhase::DmaIn; return true;
    case CSMI_STP_DMA_WRITE: phase = AtaDataPhase::DmaOut; return true;
    default: return false;
    }
}

}  // namespace

void sasAddressBytes(uint64_t address, uint8_t* bytes) {
    for (int i = 7; i >= 0; --i, address >>= 8) bytes[i] = static_cast<uint8_t>(address);
}

SimCsmiAdapter::SimCsmiAdapter(std::string driverName, std::vector<CsmiPhy> phys)
    : driverName_(std::move(driverName)), phys_(std::move(phys)) {}

std::vector<uint8_t> SimCsmiAdapter::lastPassThrough() const {
    std::lock_guard lock(mutex_);
    return lastPassThrough_;
}

int SimCsmiAdapter::request(void* argument) {
    auto* buffer = static_cast<uint8_t*>(argument);
    if (buffer == nullptr) {
        errno = EFAULT;
        return -1;
    }
    CsmiHeader header;
    std::memcpy(&header, buffer, sizeof header);
    if (header.headerLength != CSMI_HEADER_SIZE) {
        errno = EINVAL;
        return -1;
    }
    const uint32_t size = CSMI_HEADER_SIZE + header.length;
    const char* expected = header.controlCode == CSMI_CC_GET_DRIVER_INFO ? CSMI_SIGNATURE_ALL : CSMI_SIGNATURE_SAS;
    if (std::memcmp(header.signature, expected, std::strlen(expected) + 1) != 0) {
        setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
        return 0;
    }
    switch (header.controlCode) {
    case CSMI_CC_GET_DRIVER_INFO: driverInfo(buffer, size); return 0;
    case CSMI_CC_GET_PHY_INFO: phyInfo(buffer, size); return 0;
    case CSMI_CC_STP_PASSTHRU: return stp(buffer, size);
    case CSMI_CC_SSP_PASSTHRU: return ssp(buffer, size);
    default: setReturnCode(buffer, CSMI_STATUS_BAD_CONTROL_CODE); return 0;
    }
}

void SimCsmiAdapter::driverInfo(uint8_t* buffer, uint32_t size) {
    if (size < CSMI_DRIVER_INFO_BUFFER_SIZE) return setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
    CsmiDriverInfoBuffer info;
    std::memcpy(&info, buffer, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", driverName_.c_str());
    std::snprintf(info.description, sizeof info.description, "Simulated CSMI SAS adapter");
    info.majorRevision = 1;
    info.csmiMajorRevision = 0;
    info.csmiMinorRevision = 82;
    info.header.returnCode = CSMI_STATUS_SUCCESS;
    std::memcpy(buffer, &info, sizeof info);
}

void SimCsmiAdapter::phyInfo(uint8_t* buffer, uint32_t size) {
    if (size < CSMI_PHY_INFO_BUFFER_SIZE) return setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
    CsmiPhyInfoBuffer info;
    std::memcpy(&info, buffer, sizeof info.header);
    std::memset(reinterpret_cast<uint8_t*>(&info) + sizeof info.header, 0, sizeof info - sizeof info.header);
    const std::size_t count = std::min<std::size_t>(phys_.size(), CSMI_MAX_PHYS);
    info.numberOfPhys = static_cast<uint8_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const CsmiPhy& phy = phys_[i];
        CsmiPhyEntry& entry = info.phys[i];
        entry.identify.deviceType = CSMI_DEVICE_END_DEVICE;
        entry.identify.initiatorProtocol = kInitiatorProtocols;
        entry.identify.phyIdentifier = phy.phyIdentifier;
        entry.portIdentifier = phy.portIdentifier;
        entry.attached.deviceType = phy.attachedType;
        if (phy.attachedType == 0) continue;
        if (phy.drive) {
            entry.attached.targetProtocol =
                phy.drive->kind() == DriveKind::Ata ? CSMI_PROTOCOL_SATA : CSMI_PROTOCOL_SSP;
        } else {
            entry.attached.targetProtocol = CSMI_PROTOCOL_SMP;
        }
        sasAddressBytes(phy.sasAddress, entry.attached.sasAddress);
        entry.attached.phyIdentifier = phy.attachedPhyIdentifier;
    }
    info.header.returnCode = CSMI_STATUS_SUCCESS;
    std::memcpy(buffer, &info, sizeof info);
}

const CsmiPhy* SimCsmiAdapter::target(const uint8_t* sasAddress) const {
    for (const CsmiPhy& phy : phys_) {
        uint8_t bytes[8];
        sasAddressBytes(phy.sasAddress, bytes);
        if (phy.drive && phy.attachedType == CSMI_DEVICE_END_DEVICE && std::memcmp(bytes, sasAddress, 8) == 0)
            return &phy;
    }
    return nullptr;
}

template <typename Request, typename Drive>
Drive* SimCsmiAdapter::addressed(uint8_t* buffer, uint32_t size, uint32_t smallest, Request& request) {
    if (size < smallest) {
        setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
        return nullptr;
    }
    std::memcpy(&request, buffer, sizeof request);
    {
        std::lock_guard lock(mutex_);
        lastPassThrough_.assign(buffer, buffer + size);
    }
    const CsmiPhy* phy = target(request.destinationSasAddress);
    auto* drive = phy ? dynamic_cast<Drive*>(phy->drive.get()) : nullptr;
    if (drive == nullptr) setReturnCode(buffer, CSMI_STATUS_PHY_DOES_NOT_EXIST);
    return drive;
}

int SimCsmiAdapter::stp(uint8_t* buffer, uint32_t size) {
    CsmiStpBuffer request;
    auto* drive = addressed<CsmiStpBuffer, AtaDrive>(buffer, size, CSMI_STP_BUFFER_SIZE(0), request);
    if (drive == nullptr) return 0;
    AtaReply reply;
    if (request.flags == CSMI_STP_RESET_DEVICE) {
        reply.registers.status = ata::kStatusGood;
    } else {
        AtaRequest ata;
        if (!phaseOf(request.flags, ata.phase) || request.dataLength > size - CSMI_STP_DATA_OFFSET) {
            setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
            return 0;
        }
        ata.registers = registerFisInputs(request.commandFis);
        ata.extended = carriesExpandedRegisters(ata.registers);
        ata.data = std::span<uint8_t>(buffer + CSMI_STP_DATA_OFFSET, request.dataLength);
        if (drive->execute(ata, reply) == BusResult::DeviceGone) {
            errno = ENXIO;
            return -1;
        }
    }
    writeDeviceToHostFis(reply.registers, request.statusFis, sizeof request.statusFis);
    request.dataBytes = reply.transferred;
    request.header.returnCode = CSMI_STATUS_SUCCESS;
    std::memcpy(buffer, &request, sizeof request);
    if (request.commandFis[2] == kVendorCommand && request.flags != CSMI_STP_RESET_DEVICE) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int SimCsmiAdapter::ssp(uint8_t* buffer, uint32_t size) {
    CsmiSspBuffer request;
    auto* drive = addressed<CsmiSspBuffer, ScsiDrive>(buffer, size, CSMI_SSP_BUFFER_SIZE(0), request);
    if (drive == nullptr) return 0;
    const std::size_t additional = std::size_t{request.additionalCdbLength} * 4;
    if (request.cdbLength > CSMI_SSP_CDB_SIZE || additional > CSMI_SSP_ADDITIONAL_CDB_SIZE ||
        request.dataLength > size - CSMI_SSP_DATA_OFFSET) {
        setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER);
        return 0;
    }
    std::vector<uint8_t> cdb(request.cdb, request.cdb + request.cdbLength);
    cdb.insert(cdb.end(), request.additionalCdb, request.additionalCdb + additional);
    ScsiRequest scsi;
    scsi.cdb = cdb;
    switch (request.flags) {
    case CSMI_SSP_NO_DATA: scsi.direction = ScsiDataDirection::None; break;
    case CSMI_SSP_READ: scsi.direction = ScsiDataDirection::In; break;
    case CSMI_SSP_WRITE: scsi.direction = ScsiDataDirection::Out; break;
    default: setReturnCode(buffer, CSMI_STATUS_INVALID_PARAMETER); return 0;
    }
    scsi.data = std::span<uint8_t>(buffer + CSMI_SSP_DATA_OFFSET, request.dataLength);
    ScsiReply reply;
    if (drive->execute(scsi, reply) == BusResult::DeviceGone) {
        errno = ENXIO;
        return -1;
    }
    request.status = reply.status;
    request.dataPresent = reply.senseLength != 0 ? 2 : 0;
    request.responseLength[0] = 0;
    request.responseLength[1] = reply.senseLength;
    std::memcpy(request.response, reply.sense.data(), reply.senseLength);
    request.dataBytes = reply.transferred;
    request.header.returnCode = CSMI_STATUS_SUCCESS;
    std::memcpy(buffer, &request, sizeof request);
    return 0;
}

}  // namespace simdrive
