// CRC-16 (polynomial 0x1021, initial 0, unreflected) and the 8-bit two's
// complement checksum.
#include <array>

#include "cvcrt/random.h"

namespace {

constexpr uint16_t kPolynomial = 0x1021;

constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        auto crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ kPolynomial : crc << 1);
        table[i] = crc;
    }
    return table;
}();

// Feeds one byte into the low end of the register (the augmented form: the CRC
// of a message comes out after two further zero bytes).
constexpr uint16_t Feed(uint16_t reg, uint8_t byte) {
    return static_cast<uint16_t>(kCrcTable[reg >> 8] ^ byte ^ (reg << 8));
}

uint16_t Run(const void* data, int32_t length) {
    uint16_t reg = 0;
    if (!data || length <= 0) return reg;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int32_t i = 0; i < length; ++i) reg = Feed(reg, bytes[i]);
    return reg;
}

uint8_t Sum(const void* data, int32_t length) {
    uint8_t sum = 0;
    if (!data || length <= 0) return sum;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

}  // namespace

uint16_t CRCCreateCCITT16(const void* data, int32_t length) { return Feed(Feed(Run(data, length), 0), 0); }

int CRCTestCCITT16(const void* data, int32_t length) { return Run(data, length) == 0 ? 1 : 0; }

uint8_t ChecksumCreate8(const void* data, int32_t length) { return static_cast<uint8_t>(0u - Sum(data, length)); }

int ChecksumTest8(const void* data, int32_t length) { return Sum(data, length) == 0 ? 1 : 0; }
