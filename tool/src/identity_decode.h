// Turning the raw identify data of a drive into a DriveIdentity. Kept apart from
// the commands that fetch the data so that the decoding can be checked alone.
#pragma once

#include "drive_table.h"

#include <cstddef>
#include <cstdint>

namespace firmstep {

inline constexpr std::size_t kAtaIdentifySize = 512;
inline constexpr std::size_t kScsiStandardInquirySize = 96;
inline constexpr std::size_t kScsiSerialPageSize = 64;       // VPD page 0x80
inline constexpr std::size_t kScsiDeviceIdPageSize = 76;     // VPD page 0x83
inline constexpr std::size_t kNvmeIdentifySize = 4096;

// Copies `length` bytes of a fixed-width text field into `out` (room `outSize`),
// cut to the field, then trimmed: trailing spaces dropped, leading spaces
// skipped. ATA fields hold two characters per 16-bit word in swapped order;
// `swapPairs` puts them right first.
void CopyTrimmedText(char* out, std::size_t outSize, const std::uint8_t* field, std::size_t length,
                     bool swapPairs);

// Capacity in GB from IDENTIFY DEVICE: the 48-bit capacity when word 83 says
// 48-bit addressing is supported, else the 28-bit one.
std::uint64_t AtaCapacityGB(std::uint64_t capacity28, std::uint64_t capacity48, std::uint16_t word83);

DriveIdentity DecodeAtaIdentify(const std::uint8_t (&data)[kAtaIdentifySize]);
DriveIdentity DecodeScsiInquiry(const std::uint8_t (&standard)[kScsiStandardInquirySize],
                                const std::uint8_t (&serialPage)[kScsiSerialPageSize],
                                const std::uint8_t (&deviceIdPage)[kScsiDeviceIdPageSize]);
DriveIdentity DecodeNvmeIdentify(const std::uint8_t (&controller)[kNvmeIdentifySize],
                                 const std::uint8_t (&namespaceData)[kNvmeIdentifySize]);

}  // namespace firmstep
