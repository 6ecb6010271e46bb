// What USB bridges answer.
#include "usb_bridge.h"

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "sg_answer.h"
#include "simdrive/ata_drive.h"
#include "simdrive/scsi_bus.h"

namespace simdrive {

namespace {

using Kind = UsbBridge::Kind;

constexpr uint8_t kAtaPassThrough12 = 0xA1, kAtaPassThrough16 = 0x85, kAtacb = 0x24;
constexpr uint8_t kSatHardReset = 0, kSatSoftReset = 1, kSatReturnResponse = 15;
constexpr uint8_t kFailedBits = 0x21;  // ERR, DF

bool failed(const AtaOutputs& r) { return (r.status & kFailedBits) != 0; }

void giveData(sg_io_hdr& request, std::span<const uint8_t> bytes) {
    std::span<uint8_t> data = dataOf(request);
    const std::size_t length =
        request.dxfer_direction == SG_DXFER_FROM_DEV ? std::min(data.size(), bytes.size()) : 0;
    if (length != 0) std::memcpy(data.data(), bytes.data(), length);
    request.resid = static_cast<int>(request.dxfer_len - length);
}

std::vector<uint8_t> descriptorSense(uint8_t key, uint16_t ascq, const AtaOutputs& r, bool extend) {
    std::vector<uint8_t> s = {0x72, key, static_cast<uint8_t>(ascq >> 8), static_cast<uint8_t>(ascq & 0xFF), 0, 0, 0, 14,
                              0x09, 0x0C, static_cast<uint8_t>(extend ? 1 : 0), r.error, r.countExp, r.count,
                              r.lbaLowExp, r.lbaLow, r.lbaMidExp, r.lbaMid, r.lbaHighExp, r.lbaHigh, r.device, r.status};
    return s;
}

// Fixed format with the registers where the bridge's generation puts them.
std::vector<uint8_t> fixedSense(const AtaOutputs& r, bool sat2) {
    std::vector<uint8_t> s(22, 0);
    s[0] = 0xF0;
    s[2] = 0x01;
    s[3] = r.error;
    s[4] = r.status;
    s[5] = r.device;
    s[6] = r.count;
    s[7] = 14;
    s[9] = sat2 ? r.lbaHigh : r.lbaLow;
    s[10] = r.lbaMid;
    s[11] = sat2 ? r.lbaLow : r.lbaHigh;
    s[13] = 0x1D;
    return s;
}

// The bridge's own INQUIRY: its vendor and product, and for a SAT-3 bridge
// the SAT-3 version descriptor.
void bridgeInquiry(const UsbBridge& bridge, sg_io_hdr& request) {
    if ((request.cmdp[1] & 0x01) != 0) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return;
    }
    std::array<uint8_t, 96> page{};
    page[2] = 0x06;
    page[3] = 0x02;
    page[4] = static_cast<uint8_t>(page.size() - 5);
    std::memcpy(page.data() + 8, "ACMEBRDG", 8);
    std::memcpy(page.data() + 16, "USB Bridge      ", 16);
    std::memcpy(page.data() + 32, "0100", 4);
    if (bridge.kind == Kind::SatFixed3) {
        page[58] = 0x1E;
        page[59] = 0xE0;
    }
    giveData(request, page);
}

// The answer to a command that is not ATA: INQUIRY, TEST UNIT READY and an
// empty REQUEST SENSE; anything else is refused.
int scsiCommand(const UsbBridge& bridge, sg_io_hdr& request) {
    switch (request.cmdp[0]) {
    case scsi::kOpInquiry: bridgeInquiry(bridge, request); return 0;
    case scsi::kOpTestUnitReady: return 0;
    case scsi::kOpRequestSense: {
        const std::array<uint8_t, 18> noSense = {0x70, 0, 0, 0, 0, 0, 0, 10};
        giveData(request, noSense);
        return 0;
    }
    default: refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidOpcode); return 0;
    }
}

int runAta(AtaDrive& drive, sg_io_hdr& request, UsbBridgeState& state, AtaRequest& ata) {
    ata.data = dataOf(request);
    AtaReply reply;
    if (drive.execute(ata, reply) == BusResult::DeviceGone) {
        errno = ENXIO;
        return -1;
    }
    request.resid = static_cast<int>(request.dxfer_len - std::min<uint32_t>(reply.transferred, request.dxfer_len));
    state.last = reply.registers;
    state.lastFailed = failed(reply.registers);
    if (!state.lastFailed) return 0;
    // The drive's error: CHECK CONDITION, the registers to be read back (or,
    // on a bridge without read-back by data, in the sense).
    const int resid = request.resid;
    if (state.bridge.kind == Kind::SatAutoSense)
        checkCondition(request, descriptorSense(scsi::kKeyAbortedCommand, 0, reply.registers, ata.extended));
    else
        refuse(request, scsi::kKeyAbortedCommand, 0);
    request.resid = resid;
    return 0;
}

void returnResponse(sg_io_hdr& request, UsbBridgeState& state, bool extend) {
    const AtaOutputs& r = state.last;
    switch (state.bridge.kind) {
    case Kind::SatAutoSense:
        checkCondition(request, descriptorSense(0x01, 0x001D, r, extend));
        request.resid = static_cast<int>(request.dxfer_len);
        return;
    case Kind::SatErrorsOnly:
        if (request.dxfer_direction == SG_DXFER_FROM_DEV)
            giveData(request, descriptorSense(0x01, 0x001D, state.lastFailed ? r : AtaOutputs{}, extend));
        return;
    case Kind::SatFixed2:
    case Kind::SatFixed3:
        if (request.dxfer_direction == SG_DXFER_FROM_DEV) giveData(request, fixedSense(r, state.bridge.kind == Kind::SatFixed2));
        return;
    default:
        if (request.dxfer_direction == SG_DXFER_FROM_DEV) giveData(request, descriptorSense(0x01, 0x001D, r, extend));
        return;
    }
}

int satPassThrough(AtaDrive& drive, sg_io_hdr& request, UsbBridgeState& state) {
    const uint8_t* cdb = request.cmdp;
    const bool twelve = cdb[0] == kAtaPassThrough12;
    if (request.cmd_len != (twelve ? 12 : 16)) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
    const bool extend = !twelve && (cdb[1] & 0x01) != 0;
    const bool fromDevice = (cdb[2] & 0x08) != 0;
    const bool hasLength = (cdb[2] & 0x03) != 0;
    if (protocol == kSatReturnResponse) {
        returnResponse(request, state, extend);
        return 0;
    }
    if (protocol == kSatHardReset || protocol == kSatSoftReset) return 0;
    AtaRequest ata;
    ata.extended = extend;
    ata.registers = passThroughRegisters(cdb, twelve, extend);
    const std::optional<AtaDataPhase> phase = passThroughPhase(protocol, fromDevice);
    if (!phase) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    ata.phase = *phase;
    // An older bridge knows no DMA pass-through.
    const bool dma = ata.phase == AtaDataPhase::DmaIn || ata.phase == AtaDataPhase::DmaOut;
    if (dma && state.bridge.kind == Kind::SatErrorsOnly) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    const bool in = ata.phase == AtaDataPhase::PioIn || ata.phase == AtaDataPhase::DmaIn;
    const bool moves = ata.phase != AtaDataPhase::None;
    const bool consistent = !moves ? request.dxfer_len == 0
                                   : hasLength && request.dxfer_len != 0 && fromDevice == in &&
                                         request.dxfer_direction == (in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV);
    if (!consistent) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    // The blocks the count register announces are what moves.
    if (moves && hasLength && ata.registers.count != 0 && !extend &&
        static_cast<uint32_t>(ata.registers.count) * ata::kBlockSize != request.dxfer_len) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    return runAta(drive, request, state, ata);
}

// ATACB: byte 2 action select, 3 register select, 4 block count, 6 to 12
// the registers.
int atacb(AtaDrive& drive, sg_io_hdr& request, UsbBridgeState& state) {
    const uint8_t* cdb = request.cmdp;
    if (request.cmd_len != 16 || cdb[1] != 0x24) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    const uint8_t action = cdb[2], select = cdb[3];
    if ((action & 0x01) != 0) {
        const AtaOutputs& r = state.last;
        const std::array<uint8_t, 12> reply = {0, r.error, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.status};
        giveData(request, reply);
        return 0;
    }
    auto chosen = [&](uint8_t bit, uint8_t value) -> uint8_t { return (select & bit) != 0 ? value : 0; };
    if ((select & 0x80) == 0) {
        // Registers without a command: the (15:8) bytes of the next command.
        if (request.dxfer_len != 0) {
            refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
            return 0;
        }
        state.pending.countExp = chosen(0x04, cdb[7]);
        state.pending.lbaLowExp = chosen(0x08, cdb[8]);
        state.pending.lbaMidExp = chosen(0x10, cdb[9]);
        state.pending.lbaHighExp = chosen(0x20, cdb[10]);
        state.extendedPending = true;
        return 0;
    }
    AtaRequest ata;
    AtaInputs& in = ata.registers;
    in.features = chosen(0x02, cdb[6]);
    in.count = chosen(0x04, cdb[7]);
    in.lbaLow = chosen(0x08, cdb[8]);
    in.lbaMid = chosen(0x10, cdb[9]);
    in.lbaHigh = chosen(0x20, cdb[10]);
    in.device = chosen(0x40, cdb[11]);
    in.command = cdb[12];
    if (state.extendedPending) {
        ata.extended = true;
        in.countExp = state.pending.countExp;
        in.lbaLowExp = state.pending.lbaLowExp;
        in.lbaMidExp = state.pending.lbaMidExp;
        in.lbaHighExp = state.pending.lbaHighExp;
        state.extendedPending = false;
        state.pending = {};
    }
    const bool dma = (action & 0x40) != 0;
    const bool identifyFlag = (action & 0x80) != 0;
    const bool blocksRight = cdb[4] == static_cast<uint8_t>(request.dxfer_len / ata::kBlockSize) &&
                             request.dxfer_len % ata::kBlockSize == 0;
    if (identifyFlag != (in.command == ata::kCmdIdentifyDevice) || !blocksRight) {
        refuse(request, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
        return 0;
    }
    if (request.dxfer_len == 0)
        ata.phase = AtaDataPhase::None;
    else if (request.dxfer_direction == SG_DXFER_FROM_DEV)
        ata.phase = dma ? AtaDataPhase::DmaIn : AtaDataPhase::PioIn;
    else
        ata.phase = dma ? AtaDataPhase::DmaOut : AtaDataPhase::PioOut;
    return runAta(drive, request, state, ata);
}

}  // namespace

std::optional<UsbBridge> parseUsbBridge(std::string_view name) {
    static constexpr std::pair<std::string_view, Kind> kNames[] = {
        {"sat", Kind::SatDescriptor},         {"sat-autosense", Kind::SatAutoSense},
        {"sat-errors-only", Kind::SatErrorsOnly}, {"sat2-fixed", Kind::SatFixed2},
        {"sat3-fixed", Kind::SatFixed3},      {"atacb", Kind::Atacb},
        {"no-ata", Kind::NoAta},
    };
    for (const auto& [text, kind] : kNames) {
        if (name == text) return UsbBridge{kind};
    }
    return std::nullopt;
}

int answerUsbBridge(AtaDrive& drive, sg_io_hdr& request, UsbBridgeState& state) {
    std::lock_guard lock(state.mutex);
    const uint8_t opcode = request.cmdp[0];
    const bool sat = opcode == kAtaPassThrough12 || opcode == kAtaPassThrough16;
    const Kind kind = state.bridge.kind;
    if (sat && kind != Kind::Atacb && kind != Kind::NoAta) return satPassThrough(drive, request, state);
    if (opcode == kAtacb && kind == Kind::Atacb) return atacb(drive, request, state);
    return scsiCommand(state.bridge, request);
}

}  // namespace simdrive
