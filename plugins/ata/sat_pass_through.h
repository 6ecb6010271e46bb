// ATA commands through the Linux SCSI generic SG_IO request, wrapped in the SAT
// ATA PASS-THROUGH (16) command the way libata expects them, and the registers
// read back from the ATA Status Return descriptor of the sense data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ata_plugin {

struct Taskfile {
    uint8_t features = 0, featuresExp = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t command = 0;
};

struct ReturnedRegisters {
    uint8_t error = 0, errorExp = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t status = 0;
};

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

inline constexpr std::size_t kCdbLength = 16;
inline constexpr std::size_t kSenseLength = 32;

// The ATA PASS-THROUGH (16) CDB, with CK_COND so that the registers always come back.
void buildPassThroughCdb(const PassThroughRequest& request, uint8_t (&cdb)[kCdbLength]);

// Finds the registers in sense data: the ATA Status Return descriptor of
// descriptor-format sense, or the ATA information of fixed-format sense
// (ASC/ASCQ 00h/1Dh). False when the sense carries neither.
bool decodeReturnedRegisters(const uint8_t* sense, std::size_t length, ReturnedRegisters& registers);

struct PassThroughResult {
    int systemError = 0;  // 0: the command reached the drive; otherwise an errno value
    bool registersValid = false;
    ReturnedRegisters registers;
    uint64_t durationNs = 0;
};

// Sends one command on an open disk and waits for it.
PassThroughResult runPassThrough(int fd, const PassThroughRequest& request);

}  // namespace ata_plugin
