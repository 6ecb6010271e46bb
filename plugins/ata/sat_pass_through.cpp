// SAT ATA PASS-THROUGH (16) over SG_IO.
#include "sat_pass_through.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>

#include "kernel_io/sg_request.h"

namespace ata_plugin {

namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kReadyNoError = 0x50;  // DRDY and DSC

// NO SENSE and RECOVERED ERROR: the command was carried out.
bool senseKeyReportsFailure(const sat::SenseCode& code) { return code.key > 0x01; }

}  // namespace

sat::Command satCommand(const PassThroughRequest& request) {
    sat::Command command;
    command.taskfile = request.taskfile;
    command.extend = request.extend;
    switch (request.direction) {
    case DataDirection::None: command.protocol = sat::Protocol::NonData; break;
    case DataDirection::In:
        command.protocol = request.dma ? sat::Protocol::Dma : sat::Protocol::PioIn;
        command.transfer = sat::Transfer::FromDevice;
        break;
    case DataDirection::Out:
        command.protocol = request.dma ? sat::Protocol::Dma : sat::Protocol::PioOut;
        command.transfer = sat::Transfer::ToDevice;
        break;
    }
    command.checkCondition = command.protocol != sat::Protocol::PioIn;
    return command;
}

void readAnswer(uint8_t scsiStatus, std::span<const uint8_t> sense, PassThroughResult& result) {
    if (!sense.empty()) {
        const sat::DecodedSense decoded = sat::decodeSense(sense, sat::FixedLayout::Detect);
        result.sense = decoded.code;
        if (decoded.verdict == sat::SenseVerdict::Registers) {
            result.registersValid = true;
            result.registers = decoded.registers;
            // An ATA error explains a failure: that is the drive's verdict.
            result.senseFailure =
                senseKeyReportsFailure(decoded.code) && !sat::statusReportsError(decoded.registers.status);
            return;
        }
        if (scsiStatus != kGood) {
            // Sense without registers: the translation refused the command
            // block (or the disk is no ATA disk) before any drive saw it.
            result.senseFailure = true;
            return;
        }
    }
    if (scsiStatus == kGood) {
        // Without CK_COND (or from a translation that ignores it) success
        // returns no registers: the drive ended ready and without error.
        result.registersValid = true;
        result.registers = ReturnedRegisters{};
        result.registers.status = kReadyNoError;
        return;
    }
    // A check condition without sense tells nothing about the drive.
    result.systemError = EIO;
}

PassThroughResult runPassThrough(int fd, const PassThroughRequest& request) {
    PassThroughResult result;
    auto cdb = sat::buildCdb16(satCommand(request));
    uint8_t sense[kSenseLength] = {};
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = static_cast<unsigned char>(cdb.size());
    header.cmdp = cdb.data();
    header.mx_sb_len = kSenseLength;
    header.sbp = sense;
    header.timeout = passthrough::sgTimeoutMs(request.timeoutNs);
    header.dxfer_direction = request.direction == DataDirection::In    ? SG_DXFER_FROM_DEV
                             : request.direction == DataDirection::Out ? SG_DXFER_TO_DEV
                                                                       : SG_DXFER_NONE;
    header.dxferp = request.direction == DataDirection::None ? nullptr : request.data;
    header.dxfer_len = request.direction == DataDirection::None ? 0 : request.length;

    // Refused by the kernel or lost on the way (time-out, host adapter): it never reached the drive.
    result.systemError = passthrough::timedSgIo(fd, header, result.durationNs);
    if (result.systemError != 0) return result;
    const uint32_t residue = static_cast<uint32_t>(std::max(header.resid, 0));
    result.transferred = header.dxfer_len - std::min(residue, header.dxfer_len);
    readAnswer(header.status, {sense, std::min<std::size_t>(header.sb_len_wr, sizeof sense)}, result);
    return result;
}

}  // namespace ata_plugin
