// SCSI commands through the Linux SCSI generic SG_IO request.
#pragma once

#include <cstdint>

#include "device/scsi_device.h"

namespace scsi_plugin {

struct SgCommand {
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    uint8_t direction = SCSI_DIRECTION_NONE;  // SCSI_DIRECTION_NONE, _IN or _OUT
    uint8_t* data = nullptr;
    uint32_t length = 0;
    uint64_t timeoutNs = 0;
};

struct SgOutcome {
    int systemError = 0;        // errno of a request that did not reach the device (status then 0)
    uint8_t status = 0;         // the SCSI status byte
    uint8_t senseLength = 0;
    uint8_t sense[SCSI_SENSE_CAPACITY] = {};
    uint32_t transferred = 0;   // bytes moved
    uint64_t durationNs = 0;
};

// Sends one command on an open disk and waits for it. A data length of 1 is
// carried through a private 2-byte buffer and the first byte copied back.
SgOutcome runSgCommand(int fd, const SgCommand& command);

}  // namespace scsi_plugin
