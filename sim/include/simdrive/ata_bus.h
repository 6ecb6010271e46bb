// The ATA bus as a drive sees it: the taskfile registers written by the host,
// the data phase, and the registers the drive returns.
#pragma once

#include <cstdint>
#include <span>

namespace simdrive {

namespace ata {
inline constexpr uint8_t kCmdNop = 0x00;
inline constexpr uint8_t kCmdDownloadMicrocode = 0x92;
inline constexpr uint8_t kCmdDownloadMicrocodeDma = 0x93;
inline constexpr uint8_t kCmdIdentifyPacketDevice = 0xA1;
inline constexpr uint8_t kCmdCheckPowerMode = 0xE5;
inline constexpr uint8_t kCmdFlushCache = 0xE7;
inline constexpr uint8_t kCmdFlushCacheExt = 0xEA;
inline constexpr uint8_t kCmdIdentifyDevice = 0xEC;

// DOWNLOAD MICROCODE subcommands (features register).
inline constexpr uint8_t kDmOffsetsSaveActivate = 0x03;
inline constexpr uint8_t kDmSaveActivate = 0x07;
inline constexpr uint8_t kDmOffsetsDeferred = 0x0E;
inline constexpr uint8_t kDmActivate = 0x0F;

// DOWNLOAD MICROCODE status in the count register of a successful command.
inline constexpr uint8_t kDmExpectingMore = 0x01;
inline constexpr uint8_t kDmApplied = 0x02;
inline constexpr uint8_t kDmSavedDeferred = 0x03;

inline constexpr uint8_t kStatusDrdy = 0x40;
inline constexpr uint8_t kStatusDsc = 0x10;
inline constexpr uint8_t kStatusDrq = 0x08;
inline constexpr uint8_t kStatusErr = 0x01;
inline constexpr uint8_t kStatusGood = kStatusDrdy | kStatusDsc;             // 0x50
inline constexpr uint8_t kStatusError = kStatusDrdy | kStatusDsc | kStatusErr; // 0x51
inline constexpr uint8_t kErrorAbort = 0x04;

inline constexpr std::size_t kBlockSize = 512;
}  // namespace ata

struct AtaInputs {
    uint8_t features = 0, featuresExp = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t command = 0;
};

struct AtaOutputs {
    uint8_t error = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t status = 0;
};

enum class AtaDataPhase { None, PioIn, PioOut, DmaIn, DmaOut };

struct AtaRequest {
    AtaInputs registers;
    bool extended = false;  // the expanded registers were written (48-bit command)
    AtaDataPhase phase = AtaDataPhase::None;
    std::span<uint8_t> data;  // read from (out phases) or written to (in phases)
};

struct AtaReply {
    AtaOutputs registers;
    uint32_t transferred = 0;  // bytes moved in the data phase
};

}  // namespace simdrive
