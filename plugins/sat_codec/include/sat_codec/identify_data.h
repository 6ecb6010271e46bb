// Telling IDENTIFY DEVICE data from a buffer that a bridge or translation
// handed back without having run the command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sat {

inline constexpr std::size_t kIdentifyDataLength = 512;

// True for plausible IDENTIFY DEVICE data: not one byte value throughout, word
// 0 bit 15 clear (an ATA device), a model number of printable characters, and
// when word 255 has the signature A5h, a checksum that makes the 512 bytes sum
// to zero.
bool isIdentifyDeviceData(std::span<const uint8_t, kIdentifyDataLength> data);

}  // namespace sat
