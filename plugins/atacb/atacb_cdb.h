// The vendor ATA Command Block (ATACB) of some USB bridges: an ATA taskfile in
// a 16-byte SCSI command block with operation code 24h, and the 12-byte reply
// of its taskfile read. The (15:8) registers of a 48-bit command share the
// bytes of their (7:0) partners, so they travel in a request of their own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "device/ata_device.h"

namespace atacb {

inline constexpr std::size_t kCdbLength = 16;
inline constexpr std::size_t kTaskfileReplyLength = 12;
inline constexpr uint32_t kBlockSize = 512;
// count, LBA low, LBA mid and LBA high (15:8); features (15:8) is never sent.
inline constexpr uint32_t kPreviousRegisters =
    ATA_REG_COUNT_EXP | ATA_REG_LBA_LOW_EXP | ATA_REG_LBA_MID_EXP | ATA_REG_LBA_HIGH_EXP;

using Cdb = std::array<uint8_t, kCdbLength>;

// How a protocol of the command block travels.
struct Route {
    bool moves = false;   // a data phase
    bool fromDevice = false;
    bool dma = false;     // action select 40h
};
std::optional<Route> routeOf(uint8_t protocol);

// The command: the registers of `mask` (a (15:8) register in place of its
// partner when both are named), the block count of `dataLength`, action
// select for DMA and for IDENTIFY DEVICE.
Cdb commandCdb(const AtaCommandBlock& block, uint32_t mask, const Route& route, uint32_t dataLength);

// The (15:8) registers that the block's input mask names, without a command.
Cdb previousRegistersCdb(const AtaCommandBlock& block);

// IDENTIFY DEVICE for one 512-byte block.
Cdb identifyCdb();

// The taskfile read.
Cdb taskfileReadCdb();

// The registers of a taskfile reply: byte 1 error, 2 count, 3 LBA low, 4 LBA
// mid, 5 LBA high, 6 device, 7 status; the (15:8) ones are not returned.
// False, nothing written, for a reply too short to hold them.
bool decodeTaskfileReply(std::span<const uint8_t> reply, AtaTaskfileBlock& out);

}  // namespace atacb
