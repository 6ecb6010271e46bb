// The SCSI bus as a logical unit sees it: a CDB from one I_T nexus, a data
// phase, and the status with fixed-format sense data.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace simdrive {

namespace scsi {
inline constexpr uint8_t kOpTestUnitReady = 0x00;
inline constexpr uint8_t kOpRequestSense = 0x03;
inline constexpr uint8_t kOpInquiry = 0x12;
inline constexpr uint8_t kOpReadCapacity10 = 0x25;
inline constexpr uint8_t kOpWriteBuffer = 0x3B;
inline constexpr uint8_t kOpServiceActionIn16 = 0x9E;
inline constexpr uint8_t kOpReportLuns = 0xA0;
inline constexpr uint8_t kSaReadCapacity16 = 0x10;

// WRITE BUFFER modes.
inline constexpr uint8_t kWbDownloadSave = 0x05;
inline constexpr uint8_t kWbOffsetsSaveActivate = 0x07;
inline constexpr uint8_t kWbOffsetsDeferred = 0x0E;
inline constexpr uint8_t kWbActivateDeferred = 0x0F;

inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;

inline constexpr uint8_t kKeyNoSense = 0x00;
inline constexpr uint8_t kKeyHardwareError = 0x04;
inline constexpr uint8_t kKeyIllegalRequest = 0x05;
inline constexpr uint8_t kKeyUnitAttention = 0x06;
inline constexpr uint8_t kKeyAbortedCommand = 0x0B;

// Additional sense code and qualifier pairs, ASC in the high byte.
inline constexpr uint16_t kAscInvalidOpcode = 0x2000;
inline constexpr uint16_t kAscInvalidFieldInCdb = 0x2400;
inline constexpr uint16_t kAscInvalidFieldInParameterList = 0x2600;
inline constexpr uint16_t kAscCommandSequenceError = 0x2C00;
inline constexpr uint16_t kAscMicrocodeChanged = 0x3F01;
inline constexpr uint16_t kAscMicrocodeChangedWithoutReset = 0x3F16;
inline constexpr uint16_t kAscInternalTargetFailure = 0x4400;
inline constexpr uint16_t kAscDataPhaseError = 0x4B00;

inline constexpr std::size_t kFixedSenseLength = 18;
inline constexpr std::size_t kSenseCapacity = 252;
}  // namespace scsi

enum class ScsiDataDirection { None, In, Out };

struct ScsiRequest {
    uint32_t nexus = 0;  // which initiator path sent it; unit attentions are kept per nexus
    std::span<const uint8_t> cdb;
    ScsiDataDirection direction = ScsiDataDirection::None;
    std::span<uint8_t> data;
};

struct ScsiReply {
    uint8_t status = scsi::kStatusGood;
    uint8_t senseLength = 0;
    std::array<uint8_t, scsi::kSenseCapacity> sense{};
    uint32_t transferred = 0;  // fewer than the data length: an underrun

    uint8_t senseKey() const { return senseLength > 2 ? (sense[2] & 0x0F) : 0; }
    // ASC in the high byte, ASCQ in the low byte.
    uint16_t additionalSense() const {
        return senseLength > 13 ? static_cast<uint16_t>(sense[12] << 8 | sense[13]) : 0;
    }
};

}  // namespace simdrive
