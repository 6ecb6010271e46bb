// ATA commands through the Linux SCSI generic SG_IO request, wrapped in SAT
// ATA PASS-THROUGH (16) the way libata takes them, and the registers read back
// from the sense data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sat_codec/sat_cdb.h"
#include "sat_codec/sat_sense.h"

namespace ata_plugin {

using Taskfile = sat::Taskfile;
using ReturnedRegisters = sat::Registers;

enum class DataDirection { None, In, Out };

struct PassThroughRequest {
    Taskfile taskfile;
    bool extend = false;  // 48-bit: the expanded registers are sent
    bool dma = false;
    DataDirection direction = DataDirection::None;
    uint8_t* data = nullptr;
    uint32_t length = 0;
    uint64_t timeoutNs = 0;
};

inline constexpr std::size_t kSenseLength = 32;

// The SAT command for a request. CK_COND is set so that the registers come
// back, except for PIO data-in: on AHCI, libata takes that command's registers
// from the PIO Setup FIS, and where the controller leaves DRQ set in it (as
// QEMU's does) a good read comes back as ABORTED COMMAND.
sat::Command satCommand(const PassThroughRequest& request);

struct PassThroughResult {
    int systemError = 0;  // 0: the command reached the drive; otherwise an errno value
    bool registersValid = false;
    ReturnedRegisters registers;
    uint64_t durationNs = 0;
    uint32_t transferred = 0;  // data bytes moved
    // The kernel reported CHECK CONDITION with this sense but no ATA error
    // explains it: either no registers came back, or they show neither ERR nor
    // DF. What the drive did is unknown, so the command has not succeeded.
    bool senseFailure = false;
    sat::SenseCode sense;
};

// Reads the device's answer from the SCSI status and the sense the kernel wrote.
void readAnswer(uint8_t scsiStatus, std::span<const uint8_t> sense, PassThroughResult& result);

// Sends one command on an open disk and waits for it.
PassThroughResult runPassThrough(int fd, const PassThroughRequest& request);

}  // namespace ata_plugin
