// IDENTIFY DEVICE data of a simulated ATA drive, laid out as ACS defines the
// words that hosts read.
#include <algorithm>

#include "simdrive/ata_drive.h"

namespace simdrive {

namespace {

// ATA strings hold two characters per word, the first in the high byte.
void putAtaString(std::array<uint16_t, 256>& words, std::size_t first, std::size_t count, std::string_view text) {
    for (std::size_t i = 0; i < count; ++i) {
        auto at = [&](std::size_t index) -> uint16_t {
            return index < text.size() ? static_cast<unsigned char>(text[index]) : ' ';
        };
        words[first + i] = static_cast<uint16_t>(at(2 * i) << 8 | at(2 * i + 1));
    }
}

// Word 255: signature A5h in the low byte and a checksum in the high byte that
// makes the 512 bytes sum to zero.
void sealIntegrityWord(std::array<uint16_t, 256>& words) {
    words[255] = 0x00A5;
    unsigned sum = 0;
    for (uint16_t word : words) sum += (word & 0xFF) + (word >> 8);
    words[255] = static_cast<uint16_t>(((0x100 - (sum & 0xFF)) & 0xFF) << 8 | 0xA5);
}

}  // namespace

std::array<uint16_t, 256> ataIdentifyWords(const DriveDescription& d, const std::string& revision) {
    std::array<uint16_t, 256> w{};
    uint64_t capacity28 = std::min<uint64_t>(d.capacityBlocks, 0x0FFFFFFF);
    bool hasWwn = d.wwn != 0;

    w[0] = 0x0040;   // fixed ATA device
    w[2] = 0xC837;   // device does not need SET FEATURES to spin up; IDENTIFY complete
    putAtaString(w, 10, 10, d.serial);
    putAtaString(w, 23, 4, revision);
    putAtaString(w, 27, 20, d.model);
    w[47] = 0x8010;  // up to 16 blocks per READ/WRITE MULTIPLE
    w[49] = 0x0200 | (d.dma ? 0x0100 : 0);  // LBA; DMA
    w[53] = 0x0006;  // words 64-70 and 88 valid
    w[60] = static_cast<uint16_t>(capacity28);
    w[61] = static_cast<uint16_t>(capacity28 >> 16);
    w[63] = d.dma ? 0x0007 : 0;      // multiword DMA modes 0-2
    w[64] = 0x0003;                  // PIO modes 3 and 4
    w[69] = d.dma ? 0x0100 : 0;      // DOWNLOAD MICROCODE DMA supported
    w[80] = 0x07F0;                  // ATA/ATAPI-4 to ACS-3
    w[82] = 0x4000;                  // NOP supported
    w[83] = 0x4000 | (d.lba48 ? 0x0400 : 0) | 0x0001;  // 48-bit; DOWNLOAD MICROCODE
    w[84] = 0x4000 | (hasWwn ? 0x0100 : 0);
    w[85] = 0x4000;
    w[86] = (d.lba48 ? 0x0400 : 0) | 0x0001 | 0x8000;  // enabled: 48-bit, DOWNLOAD MICROCODE; words 119-120 valid
    w[87] = 0x4000 | (hasWwn ? 0x0100 : 0);
    w[88] = d.dma ? 0x407F : 0;      // UDMA 0-6 supported, mode 6 selected
    if (d.lba48) {
        for (std::size_t i = 0; i < 4; ++i) w[100 + i] = static_cast<uint16_t>(d.capacityBlocks >> (16 * i));
    }
    w[106] = 0x4000;                 // one logical sector per physical sector of 512 bytes
    if (hasWwn) {
        for (std::size_t i = 0; i < 4; ++i) w[108 + i] = static_cast<uint16_t>(d.wwn >> (48 - 16 * i));
    }
    w[119] = 0x4000 | 0x0008;        // DOWNLOAD MICROCODE with offsets supported
    w[120] = 0x4000 | 0x0008;        // and enabled
    w[217] = 0x0001;                 // non-rotating medium
    w[222] = 0x107F;                 // Serial ATA
    w[234] = d.minDownloadBlocks;
    w[235] = d.maxDownloadBlocks;
    sealIntegrityWord(w);
    return w;
}

}  // namespace simdrive
