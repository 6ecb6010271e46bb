// The NVMe admin queue as a controller sees it: a submission entry's fields,
// the data, and the completion's dword 0 and status field.
#pragma once

#include <cstdint>
#include <span>

namespace simdrive {

namespace nvme {
inline constexpr uint8_t kOpGetLogPage = 0x02;
inline constexpr uint8_t kOpIdentify = 0x06;
inline constexpr uint8_t kOpFirmwareCommit = 0x10;
inline constexpr uint8_t kOpFirmwareImageDownload = 0x11;

inline constexpr uint8_t kCnsNamespace = 0x00;
inline constexpr uint8_t kCnsController = 0x01;
inline constexpr uint8_t kCnsActiveNamespaces = 0x02;
inline constexpr uint8_t kLogFirmwareSlot = 0x03;

// Status code types.
inline constexpr uint8_t kSctGeneric = 0;
inline constexpr uint8_t kSctCommandSpecific = 1;
// Generic status codes.
inline constexpr uint8_t kScSuccess = 0x00;
inline constexpr uint8_t kScInvalidOpcode = 0x01;
inline constexpr uint8_t kScInvalidField = 0x02;
inline constexpr uint8_t kScInternalError = 0x06;
inline constexpr uint8_t kScInvalidNamespace = 0x0B;
// Command specific status codes.
inline constexpr uint8_t kScInvalidFirmwareSlot = 0x06;
inline constexpr uint8_t kScInvalidFirmwareImage = 0x07;
inline constexpr uint8_t kScInvalidLogPage = 0x09;
inline constexpr uint8_t kScActivationRequiresConventionalReset = 0x0B;
inline constexpr uint8_t kScActivationRequiresSubsystemReset = 0x10;
inline constexpr uint8_t kScActivationRequiresControllerReset = 0x11;
inline constexpr uint8_t kScOverlappingRange = 0x14;

inline constexpr std::size_t kIdentifySize = 4096;

// The status field without the phase tag: SC in bits 0-7, SCT in bits 8-10,
// Do Not Retry in bit 14 (the completion entry keeps it shifted left by one).
constexpr uint16_t status(uint8_t sct, uint8_t sc, bool doNotRetry = true) {
    return sc == kScSuccess && sct == kSctGeneric
               ? 0
               : static_cast<uint16_t>(sc | (sct & 0x7) << 8 | (doNotRetry ? 1u << 14 : 0u));
}
}  // namespace nvme

struct NvmeAdminCommand {
    uint8_t opcode = 0;
    uint32_t namespaceId = 0;
    uint32_t cdw10 = 0, cdw11 = 0, cdw12 = 0, cdw13 = 0, cdw14 = 0, cdw15 = 0;
};

struct NvmeCompletion {
    uint32_t result = 0;  // dword 0
    uint16_t status = 0;  // see nvme::status

    uint8_t statusCode() const { return static_cast<uint8_t>(status & 0xFF); }
    uint8_t statusCodeType() const { return static_cast<uint8_t>(status >> 8 & 0x7); }
    // The completion entry's 16-bit field: status shifted left by one, phase tag in bit 0.
    uint16_t statusField(bool phase = true) const {
        return static_cast<uint16_t>(status << 1 | (phase ? 1 : 0));
    }
};

}  // namespace simdrive
