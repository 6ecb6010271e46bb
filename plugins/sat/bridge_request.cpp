// SCSI commands to USB bridges over SG_IO.
#include "bridge_request.h"

#include <scsi/sg.h>

#include <algorithm>

#include "kernel_io/sg_request.h"
#include "sat_codec/sat_sense.h"

namespace usb_bridge {

namespace {
constexpr uint8_t kKeyIllegalRequest = 0x05;
}  // namespace

ScsiOutcome sendScsi(int fd, const ScsiRequest& request) {
    ScsiOutcome outcome;
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = static_cast<unsigned char>(request.cdb.size());
    header.cmdp = const_cast<unsigned char*>(request.cdb.data());
    header.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(request.sense.size(), 255));
    header.sbp = request.sense.empty() ? nullptr : request.sense.data();
    header.timeout = passthrough::sgTimeoutMs(request.timeoutNs);
    const bool moves = request.direction != Direction::None && request.length != 0;
    header.dxfer_direction = !moves                               ? SG_DXFER_NONE
                             : request.direction == Direction::In ? SG_DXFER_FROM_DEV
                                                                  : SG_DXFER_TO_DEV;
    header.dxferp = moves ? request.data : nullptr;
    header.dxfer_len = moves ? request.length : 0;

    outcome.systemError = passthrough::timedSgIo(fd, header, outcome.durationNs);
    if (outcome.systemError != 0) return outcome;
    outcome.status = header.status;
    const uint32_t residue = static_cast<uint32_t>(std::max(header.resid, 0));
    outcome.transferred = header.dxfer_len - std::min(residue, header.dxfer_len);
    outcome.senseLength = std::min<uint32_t>(header.sb_len_wr, header.mx_sb_len);
    return outcome;
}

ScsiRequest readRequest(std::span<const uint8_t> cdb, std::span<uint8_t> data, std::span<uint8_t> sense) {
    ScsiRequest request;
    request.cdb = cdb;
    request.direction = Direction::In;
    request.data = data.data();
    request.length = static_cast<uint32_t>(data.size());
    request.timeoutNs = kFixedTimeoutNs;
    request.sense = sense;
    return request;
}

bool refusedByBridge(std::span<const uint8_t> sense) {
    if (sense.empty()) return false;
    const sat::DecodedSense decoded = sat::decodeSense(sense, sat::FixedLayout::Detect);
    if (decoded.code.key != kKeyIllegalRequest) return false;
    return decoded.verdict != sat::SenseVerdict::Registers || !sat::statusReportsError(decoded.registers.status);
}

int bridgeRefusal(std::span<const uint8_t> sense, const char* what, CvError* error) {
    const sat::SenseCode code = sat::decodeSense(sense, sat::FixedLayout::Detect).code;
    return CvSetError(error, CV_ERROR_FAILED, "%s refused by the bridge (sense key 0x%X, ASC/ASCQ 0x%02X/0x%02X)", what,
                      code.key, code.asc, code.ascq);
}

}  // namespace usb_bridge
