// SAT ATA PASS-THROUGH (16) over SG_IO.
#include "sat_pass_through.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kernel_io/sg_request.h"

namespace ata_plugin {

namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
// SAT protocol field.
constexpr uint8_t kNonData = 3;
constexpr uint8_t kPioIn = 4;
constexpr uint8_t kPioOut = 5;
constexpr uint8_t kDma = 6;
// Byte 2 of the CDB.
constexpr uint8_t kCheckCondition = 0x20;
constexpr uint8_t kFromDevice = 0x08;
constexpr uint8_t kLengthInBlocks = 0x04;
constexpr uint8_t kLengthInCount = 0x02;

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kStatusReturnDescriptor = 0x09;

}  // namespace

void buildPassThroughCdb(const PassThroughRequest& request, uint8_t (&cdb)[kCdbLength]) {
    std::memset(cdb, 0, sizeof cdb);
    uint8_t protocol = kNonData;
    if (request.direction != DataDirection::None) {
        protocol = request.dma ? kDma : request.direction == DataDirection::In ? kPioIn : kPioOut;
    }
    const Taskfile& tf = request.taskfile;
    cdb[0] = kAtaPassThrough16;
    cdb[1] = static_cast<uint8_t>(protocol << 1 | (request.extend ? 1 : 0));
    cdb[2] = kCheckCondition;
    if (request.direction != DataDirection::None) {
        cdb[2] |= kLengthInBlocks | kLengthInCount;
        if (request.direction == DataDirection::In) cdb[2] |= kFromDevice;
    }
    if (request.extend) {
        cdb[3] = tf.featuresExp;
        cdb[5] = tf.countExp;
        cdb[7] = tf.lbaLowExp;
        cdb[9] = tf.lbaMidExp;
        cdb[11] = tf.lbaHighExp;
    }
    cdb[4] = tf.features;
    cdb[6] = tf.count;
    cdb[8] = tf.lbaLow;
    cdb[10] = tf.lbaMid;
    cdb[12] = tf.lbaHigh;
    cdb[13] = tf.device;
    cdb[14] = tf.command;
}

bool decodeReturnedRegisters(const uint8_t* sense, std::size_t length, ReturnedRegisters& r) {
    if (sense == nullptr || length < 8) return false;
    uint8_t format = sense[0] & 0x7F;
    if (format == 0x72 || format == 0x73) {
        std::size_t end = std::min<std::size_t>(length, 8u + sense[7]);
        for (std::size_t at = 8; at + 2 <= end;) {
            std::size_t size = 2u + sense[at + 1];
            if (sense[at] == kStatusReturnDescriptor && sense[at + 1] >= 12 && at + 14 <= end) {
                const uint8_t* d = sense + at;
                r = ReturnedRegisters{};
                r.error = d[3];
                r.countExp = d[4];
                r.count = d[5];
                r.lbaLowExp = d[6];
                r.lbaLow = d[7];
                r.lbaMidExp = d[8];
                r.lbaMid = d[9];
                r.lbaHighExp = d[10];
                r.lbaHigh = d[11];
                r.device = d[12];
                r.status = d[13];
                return true;
            }
            at += size;
        }
        return false;
    }
    // Fixed format: ATA PASS THROUGH INFORMATION AVAILABLE; information bytes
    // 3-6 hold error, status, device and count, command-specific bytes 8-11
    // the extend flags and LBA.
    if ((format == 0x70 || format == 0x71) && length >= 14 && sense[12] == 0x00 && sense[13] == 0x1D) {
        r = ReturnedRegisters{};
        r.error = sense[3];
        r.status = sense[4];
        r.device = sense[5];
        r.count = sense[6];
        r.lbaHigh = sense[9];
        r.lbaMid = sense[10];
        r.lbaLow = sense[11];
        return true;
    }
    return false;
}

PassThroughResult runPassThrough(int fd, const PassThroughRequest& request) {
    PassThroughResult result;
    uint8_t cdb[kCdbLength];
    buildPassThroughCdb(request, cdb);
    uint8_t sense[kSenseLength] = {};
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = kCdbLength;
    header.cmdp = cdb;
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
    if (decodeReturnedRegisters(sense, header.sb_len_wr, result.registers)) {
        result.registersValid = true;
        return result;
    }
    if (header.status == kGood) {
        // A translation that ignores CK_COND returns nothing on success: the
        // drive reported ready without error.
        result.registersValid = true;
        result.registers.status = 0x50;
        return result;
    }
    // A check condition without ATA registers: the disk does not take ATA
    // commands (a SCSI disk refusing the pass-through CDB, for one).
    result.systemError = EIO;
    return result;
}

}  // namespace ata_plugin
