// Building ATACB command blocks and reading their taskfile replies.
#include "atacb_cdb.h"

namespace atacb {

namespace {

constexpr uint8_t kOpcode = 0x24, kSignature = 0x24;
// Byte 2, action select.
constexpr uint8_t kIdentify = 0x80, kDma = 0x40, kTaskfileRead = 0x01;
// Byte 3, register select.
constexpr uint8_t kSelFeatures = 0x02, kSelCount = 0x04, kSelLbaLow = 0x08, kSelLbaMid = 0x10, kSelLbaHigh = 0x20,
                  kSelDevice = 0x40, kSelCommand = 0x80;
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr std::size_t kFeatures = 6, kCount = 7, kLbaLow = 8, kLbaMid = 9, kLbaHigh = 10, kDevice = 11, kCommand = 12;

Cdb blank() {
    Cdb cdb{};
    cdb[0] = kOpcode;
    cdb[1] = kSignature;
    return cdb;
}

// One register into its byte with its select bit, the (15:8) value winning
// over the (7:0) one.
void put(Cdb& cdb, uint32_t mask, uint32_t low, uint8_t lowValue, uint32_t high, uint8_t highValue, std::size_t at,
         uint8_t select) {
    if ((mask & (low | high)) == 0) return;
    cdb[at] = (mask & high) != 0 ? highValue : lowValue;
    cdb[3] |= select;
}

}  // namespace

std::optional<Route> routeOf(uint8_t protocol) {
    switch (protocol) {
    case ATA_PROTOCOL_NON_DATA:
    case ATA_PROTOCOL_NON_DATA_EXT: return Route{};
    case ATA_PROTOCOL_PIO_IN:
    case ATA_PROTOCOL_PIO_IN_EXT: return Route{true, true, false};
    case ATA_PROTOCOL_PIO_OUT:
    case ATA_PROTOCOL_PIO_OUT_EXT: return Route{true, false, false};
    case ATA_PROTOCOL_DMA_IN:
    case ATA_PROTOCOL_DMA_IN_EXT: return Route{true, true, true};
    case ATA_PROTOCOL_DMA_OUT:
    case ATA_PROTOCOL_DMA_OUT_EXT: return Route{true, false, true};
    default: return std::nullopt;
    }
}

Cdb commandCdb(const AtaCommandBlock& block, uint32_t mask, const Route& route, uint32_t dataLength) {
    Cdb cdb = blank();
    put(cdb, mask, ATA_REG_FEATURES, block.features, 0, 0, kFeatures, kSelFeatures);
    put(cdb, mask, ATA_REG_COUNT, block.count, ATA_REG_COUNT_EXP, block.countExp, kCount, kSelCount);
    put(cdb, mask, ATA_REG_LBA_LOW, block.lbaLow, ATA_REG_LBA_LOW_EXP, block.lbaLowExp, kLbaLow, kSelLbaLow);
    put(cdb, mask, ATA_REG_LBA_MID, block.lbaMid, ATA_REG_LBA_MID_EXP, block.lbaMidExp, kLbaMid, kSelLbaMid);
    put(cdb, mask, ATA_REG_LBA_HIGH, block.lbaHigh, ATA_REG_LBA_HIGH_EXP, block.lbaHighExp, kLbaHigh, kSelLbaHigh);
    put(cdb, mask, ATA_REG_DEVICE, block.device, 0, 0, kDevice, kSelDevice);
    put(cdb, mask, ATA_REG_COMMAND, block.command, 0, 0, kCommand, kSelCommand);
    if (cdb[kCommand] == kIdentifyDevice && (cdb[3] & kSelCommand) != 0) cdb[2] |= kIdentify;
    if (route.dma) cdb[2] |= kDma;
    cdb[4] = route.moves ? static_cast<uint8_t>(dataLength / kBlockSize) : 0;
    return cdb;
}

Cdb previousRegistersCdb(const AtaCommandBlock& block) {
    return commandCdb(block, block.inputMask & kPreviousRegisters, Route{}, 0);
}

Cdb identifyCdb() {
    Cdb cdb = blank();
    cdb[2] = kIdentify;
    cdb[3] = kSelCommand;
    cdb[4] = 1;
    cdb[kCommand] = kIdentifyDevice;
    return cdb;
}

Cdb taskfileReadCdb() {
    Cdb cdb = blank();
    cdb[2] = kTaskfileRead;
    cdb[3] = 0xFF;
    return cdb;
}

bool decodeTaskfileReply(std::span<const uint8_t> reply, AtaTaskfileBlock& out) {
    if (reply.size() < 8) return false;
    out.error = reply[1];
    out.count = reply[2];
    out.lbaLow = reply[3];
    out.lbaMid = reply[4];
    out.lbaHigh = reply[5];
    out.device = reply[6];
    out.status = reply[7];
    return true;
}

}  // namespace atacb
