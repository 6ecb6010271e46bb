// SG_IO as the kernel's SCSI layer and libata's SCSI-to-ATA translation answer it.
#include "sg_answer.h"

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "libata_sense.h"
#include "simdrive/ata_drive.h"
#include "usb_bridge.h"
#include "simdrive/scsi_drive.h"

namespace simdrive {

namespace {
constexpr uint8_t kDriverSense = 0x08;  // DRIVER_SENSE: sense data is valid
// SAT protocol field values.
constexpr uint8_t kSatNonData = 3;
constexpr uint8_t kSatPioIn = 4;
constexpr uint8_t kSatPioOut = 5;
constexpr uint8_t kSatDma = 6;
constexpr uint8_t kSatUdmaIn = 10;
constexpr uint8_t kSatUdmaOut = 11;
}  // namespace

void checkCondition(sg_io_hdr& request, std::span<const uint8_t> sense) {
    request.status = scsi::kStatusCheckCondition;
    request.masked_status = scsi::kStatusCheckCondition >> 1;
    request.driver_status = kDriverSense;
    request.info |= SG_INFO_CHECK;
    std::size_t length = std::min<std::size_t>(sense.size(), request.mx_sb_len);
    if (request.sbp != nullptr && length != 0) std::memcpy(request.sbp, sense.data(), length);
    request.sb_len_wr = static_cast<unsigned char>(request.sbp != nullptr ? length : 0);
}

// Fixed-format sense with a key and ASC/ASCQ, as the translation reports its own refusals.
void refuse(sg_io_hdr& request, uint8_t key, uint16_t ascq) {
    uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0,
                         static_cast<uint8_t>(ascq >> 8), static_cast<uint8_t>(ascq & 0xFF), 0, 0, 0, 0};
    request.resid = static_cast<int>(request.dxfer_len);
    checkCondition(request, sense);
}

std::span<uint8_t> dataOf(const sg_io_hdr& request) {
    if (request.dxfer_len == 0 || request.dxferp == nullptr) return {};
    return {static_cast<uint8_t*>(request.dxferp), request.dxfer_len};
}

AtaInputs passThroughRegisters(const uint8_t* cdb, bool twelve, bool extend) {
    AtaInputs in;
    if (twelve) {
        in.features = cdb[3];
        in.count = cdb[4];
        in.lbaLow = cdb[5];
        in.lbaMid = cdb[6];
        in.lbaHigh = cdb[7];
        in.device = cdb[8];
        in.command = cdb[9];
    } else {
        in.features = cdb[4];
        in.count = cdb[6];
        in.lbaLow = cdb[8];
        in.lbaMid = cdb[10];
        in.lbaHigh = cdb[12];
        in.device = cdb[13];
        in.command = cdb[14];
    }
    if (extend) {
        in.featuresExp = cdb[3];
        in.countExp = cdb[5];
        in.lbaLowExp = cdb[7];
        in.lbaMidExp = cdb[9];
        in.lbaHighExp = cdb[11];
    }
    return in;
}

std::optional<AtaDataPhase> passThroughPhase(uint8_t protocol, bool fromDevice) {
    switch (protocol) {
    case kSatNonData: return AtaDataPhase::None;
    case kSatPioIn: return AtaDataPhase::PioIn;
    case kSatPioOut: return AtaDataPhase::PioOut;
    case kSatDma:
    case kSatUdmaIn:
    case kSatUdmaOut: return fromDevice ? AtaDataPhase::DmaIn : AtaDataPhase::DmaOut;
    default: return std::nullopt;
    }
}

namespace {

constexpr uint8_t kAtaPassThrough12 = 0xA1;
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kStatusDeviceFault = 0x20;

void clearResults(sg_io_hdr& request) {
    request.status = 0;
    request.masked_status = 0;
    request.msg_status = 0;
    request.sb_len_wr = 0;
    request.host_status = 0;
    request.driver_status = 0;
    request.resid = 0;
    request.duration = 0;
    request.info = 0;
}

int ataPassThrough(AtaDrive& drive, sg_io_hdr& request, const LibataPort& port) {
    const uint8_t* cdb = request.cmdp;
    const bool twelve = cdb[0] == kAtaPassThrough12;
    uint8_t protocol = (cdb[1] >> 1) & 0x0F;
    bool extend = !twelve && (cdb[1] & 0x01) != 0;
    bool checkCond = (cdb[2] & 0x20) != 0;
    bool fromDevice = (cdb[2] & 0x08) != 0;
    bool hasLength = (cdb[2] & 0x03) != 0;

    AtaRequest ata;
    ata.extended = extend;
    ata.registers = passThroughRegisters(cdb, twelve, extend);
    bool wantIn = request.dxfer_direction == SG_DXFER_FROM_DEV;
    bool wantOut = request.dxfer_direction == SG_DXFER_TO_DEV;
    const std::optional<AtaDataPhase> phase = passThroughPhase(protocol, fromDevice);
    if (!phase) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    ata.phase = *phase;
    bool phaseIn = ata.phase == AtaDataPhase::PioIn || ata.phase == AtaDataPhase::DmaIn;
    bool phaseOut = ata.phase == AtaDataPhase::PioOut || ata.phase == AtaDataPhase::DmaOut;
    // The translation insists that the CDB, the transfer direction and the
    // buffer agree before anything reaches the drive.
    bool consistent = ata.phase == AtaDataPhase::None
                          ? request.dxfer_len == 0 && !hasLength
                          : hasLength && request.dxfer_len != 0 && fromDevice == phaseIn &&
                                ((phaseIn && wantIn) || (phaseOut && wantOut));
    if (!consistent) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    if (port.answersWithoutRunning) return 0;
    ata.data = dataOf(request);
    AtaReply reply;
    if (drive.execute(ata, reply) == BusResult::DeviceGone) {
        errno = ENXIO;
        return -1;
    }
    request.resid = static_cast<int>(request.dxfer_len - std::min<uint32_t>(reply.transferred, request.dxfer_len));
    AtaOutputs out = reply.registers;
    const bool failed = (out.status & (ata::kStatusErr | kStatusDeviceFault)) != 0;
    if (!failed && ata.phase == AtaDataPhase::PioIn && port.pioSetupStatusHasDrq) out.status |= ata::kStatusDrq;
    const std::vector<uint8_t> sense = libataPassThroughSense(port, out, extend, checkCond, failed);
    if (!sense.empty()) checkCondition(request, sense);
    return 0;
}

void copyPadded(uint8_t* field, std::size_t width, const std::string& text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

// IDENTIFY DEVICE words copied the way libata puts ATA strings and the world
// wide name into SCSI data: each word's high byte first.
void putWords(std::vector<uint8_t>& out, const std::array<uint16_t, 256>& words, std::size_t first,
              std::size_t count) {
    for (std::size_t i = first; i < first + count; ++i) {
        out.push_back(static_cast<uint8_t>(words[i] >> 8));
        out.push_back(static_cast<uint8_t>(words[i] & 0xFF));
    }
}

constexpr std::size_t kSerialWord = 10, kSerialWords = 10;
constexpr std::size_t kModelWord = 27, kModelWords = 20;
constexpr std::size_t kWwnWord = 108, kWwnWords = 4;

// The vital product data pages libata answers from IDENTIFY DEVICE data: the
// supported pages, the unit serial number, and the device identification with
// the serial number, the T10 vendor designator ("ATA", model and serial) and,
// when the drive reports one, its world wide name. Empty for other pages.
std::vector<uint8_t> translatedVpdPage(const AtaDrive& drive, uint8_t page) {
    const std::array<uint16_t, 256> words = ataIdentifyWords(drive.description(), drive.identity().revision);
    std::vector<uint8_t> data{0x00, page, 0x00, 0x00};
    switch (page) {
    case 0x00: data.insert(data.end(), {0x00, 0x80, 0x83}); break;
    case 0x80: putWords(data, words, kSerialWord, kSerialWords); break;
    case 0x83: {
        data.insert(data.end(), {0x02, 0x00, 0x00, static_cast<uint8_t>(2 * kSerialWords)});
        putWords(data, words, kSerialWord, kSerialWords);
        data.insert(data.end(), {0x02, 0x01, 0x00, static_cast<uint8_t>(8 + 2 * (kModelWords + kSerialWords))});
        for (char c : std::string("ATA     ")) data.push_back(static_cast<uint8_t>(c));
        putWords(data, words, kModelWord, kModelWords);
        putWords(data, words, kSerialWord, kSerialWords);
        const bool hasWwn = std::any_of(words.begin() + kWwnWord, words.begin() + kWwnWord + kWwnWords,
                                        [](uint16_t word) { return word != 0; });
        if (hasWwn) {
            data.insert(data.end(), {0x01, 0x03, 0x00, static_cast<uint8_t>(2 * kWwnWords)});
            putWords(data, words, kWwnWord, kWwnWords);
        }
        break;
    }
    default: return {};
    }
    data[3] = static_cast<uint8_t>(data.size() - 4);
    return data;
}

// libata's translated INQUIRY. Standard data: vendor "ATA", the model's first
// 16 characters and the last four of the firmware revision.
void translatedInquiry(const AtaDrive& drive, sg_io_hdr& request) {
    const uint8_t* cdb = request.cmdp;
    const bool vitalProductData = (cdb[1] & 0x01) != 0;
    std::vector<uint8_t> page;
    if (vitalProductData) {
        page = translatedVpdPage(drive, cdb[2]);
    } else {
        DriveIdentity identity = drive.identity();
        page.assign(36, 0);
        page[2] = 0x05;
        page[3] = 0x02;
        page[4] = 31;
        copyPadded(page.data() + 8, 8, "ATA");
        copyPadded(page.data() + 16, 16, identity.model);
        std::string revision = identity.revision;
        if (revision.size() > 4) revision = revision.substr(revision.size() - 4);
        copyPadded(page.data() + 32, 4, revision);
    }
    if (page.empty()) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return;
    }
    std::span<uint8_t> data = dataOf(request);
    std::size_t length = std::min(data.size(), page.size());
    if (request.dxfer_direction == SG_DXFER_FROM_DEV && length != 0) std::memcpy(data.data(), page.data(), length);
    request.resid = static_cast<int>(request.dxfer_len - length);
}

int libataDisk(AtaDrive& drive, sg_io_hdr& request, const LibataPort& port) {
    uint8_t opcode = request.cmdp[0];
    if ((opcode == kAtaPassThrough16 && request.cmd_len == 16) || (opcode == kAtaPassThrough12 && request.cmd_len == 12))
        return ataPassThrough(drive, request, port);
    if (opcode == scsi::kOpInquiry) {
        translatedInquiry(drive, request);
        return 0;
    }
    if (opcode == scsi::kOpTestUnitReady) return 0;
    refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidOpcode);
    return 0;
}

int scsiDisk(ScsiDrive& drive, sg_io_hdr& request) {
    ScsiRequest scsiRequest;
    scsiRequest.cdb = {request.cmdp, request.cmd_len};
    switch (request.dxfer_direction) {
    case SG_DXFER_FROM_DEV: scsiRequest.direction = ScsiDataDirection::In; break;
    case SG_DXFER_TO_DEV: scsiRequest.direction = ScsiDataDirection::Out; break;
    default: scsiRequest.direction = ScsiDataDirection::None; break;
    }
    scsiRequest.data = dataOf(request);
    ScsiReply reply;
    if (drive.execute(scsiRequest, reply) == BusResult::DeviceGone) {
        errno = ENXIO;
        return -1;
    }
    request.resid = static_cast<int>(request.dxfer_len - std::min<uint32_t>(reply.transferred, request.dxfer_len));
    if (reply.status == scsi::kStatusGood) return 0;
    int resid = request.resid;
    checkCondition(request, {reply.sense.data(), reply.senseLength});
    request.status = reply.status;
    request.masked_status = static_cast<unsigned char>(reply.status >> 1);
    request.resid = resid;
    if (reply.senseLength == 0) request.driver_status = 0;
    return 0;
}

}  // namespace

int answerSgIo(SimDrive& drive, sg_io_hdr& request, const LibataPort& port, UsbBridgeState* bridge) {
    if (request.interface_id != 'S') {
        errno = ENOSYS;
        return -1;
    }
    if (request.cmdp == nullptr || request.cmd_len == 0 || request.cmd_len > 16) {
        errno = EINVAL;
        return -1;
    }
    if (request.dxfer_len != 0 && request.dxferp == nullptr) {
        errno = EFAULT;
        return -1;
    }
    clearResults(request);
    if (auto* ata = dynamic_cast<AtaDrive*>(&drive)) {
        if (bridge != nullptr) return answerUsbBridge(*ata, request, *bridge);
        return libataDisk(*ata, request, port);
    }
    if (auto* scsiDrive = dynamic_cast<ScsiDrive*>(&drive)) return scsiDisk(*scsiDrive, request);
    errno = ENOTTY;  // an NVMe namespace takes no SCSI commands
    return -1;
}

}  // namespace simdrive
