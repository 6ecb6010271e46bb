// SCSI pass-through over SG_IO.
#include "sg_pass_through.h"

#include <scsi/sg.h>

#include <algorithm>

#include "kernel_io/sg_request.h"

namespace scsi_plugin {

SgOutcome runSgCommand(int fd, const SgCommand& command) {
    SgOutcome outcome;
    uint8_t oneByte[2] = {};
    bool viaPrivate = command.length == 1 && command.direction != SCSI_DIRECTION_NONE;
    uint8_t* data = viaPrivate ? oneByte : command.data;
    uint32_t length = viaPrivate ? 2 : command.length;
    if (viaPrivate && command.direction == SCSI_DIRECTION_OUT) oneByte[0] = command.data[0];

    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = command.cdbLength;
    header.cmdp = const_cast<uint8_t*>(command.cdb);
    header.mx_sb_len = SCSI_SENSE_CAPACITY;
    header.sbp = outcome.sense;
    header.timeout = passthrough::sgTimeoutMs(command.timeoutNs);
    switch (command.direction) {
    case SCSI_DIRECTION_IN:
        header.dxfer_direction = SG_DXFER_FROM_DEV;
        break;
    case SCSI_DIRECTION_OUT:
        header.dxfer_direction = SG_DXFER_TO_DEV;
        break;
    default:
        header.dxfer_direction = SG_DXFER_NONE;
        data = nullptr;
        length = 0;
        break;
    }
    header.dxferp = data;
    header.dxfer_len = length;

    // Refused by the kernel or lost on the way (no connection, a reset, a
    // time-out): nothing the device said comes back, whatever the status reads.
    outcome.systemError = passthrough::timedSgIo(fd, header, outcome.durationNs);
    if (outcome.systemError != 0) return outcome;
    outcome.status = header.status;
    outcome.senseLength = std::min<uint8_t>(header.sb_len_wr, SCSI_SENSE_CAPACITY);
    int resid = std::clamp(header.resid, 0, static_cast<int>(length));
    outcome.transferred = length - static_cast<uint32_t>(resid);
    if (viaPrivate) {
        outcome.transferred = std::min<uint32_t>(outcome.transferred, 1);
        if (command.direction == SCSI_DIRECTION_IN) command.data[0] = oneByte[0];
    }
    return outcome;
}

}  // namespace scsi_plugin
