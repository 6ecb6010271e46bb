// Finding the ATA registers in sense data.
#include "sat_codec/sat_sense.h"

#include <algorithm>

namespace sat {

namespace {

constexpr uint8_t kFixedCurrent = 0x70, kFixedDeferred = 0x71;
constexpr uint8_t kDescriptorCurrent = 0x72, kDescriptorDeferred = 0x73;
constexpr uint8_t kValid = 0x80;

DecodedSense tooShort(DecodedSense decoded, std::size_t needed) {
    decoded.verdict = SenseVerdict::TooShort;
    decoded.needed = needed;
    return decoded;
}

// Reads byte `at` of the sense, 0 past its end.
uint8_t byteAt(std::span<const uint8_t> sense, std::size_t at) { return at < sense.size() ? sense[at] : 0; }

DecodedSense decodeDescriptorFormat(std::span<const uint8_t> sense, DecodedSense decoded) {
    if (sense.size() < 8) return tooShort(decoded, 8);
    decoded.code = {static_cast<uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
    const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
    for (std::size_t at = 8; at + 2 <= end; at += 2u + sense[at + 1]) {
        if (sense[at] != kStatusReturnDescriptor) continue;
        if (!decodeStatusReturnDescriptor(sense.subspan(at, end - at), decoded.registers))
            return tooShort(decoded, at + kStatusReturnDescriptorLength);
        decoded.verdict = SenseVerdict::Registers;
        return decoded;
    }
    decoded.verdict = SenseVerdict::NoDescriptor;
    return decoded;
}

DecodedSense decodeFixedFormat(std::span<const uint8_t> sense, FixedLayout layout, DecodedSense decoded) {
    if (sense.size() < 12) return tooShort(decoded, 12);
    decoded.code = {static_cast<uint8_t>(sense[2] & 0x0F), byteAt(sense, 12), byteAt(sense, 13)};
    if (layout == FixedLayout::Detect) {
        const bool information = (sense[0] & kValid) != 0 || sense[3] != 0 || sense[4] != 0 || sense[5] != 0 ||
                                 sense[6] != 0;
        layout = information ? FixedLayout::Sat : FixedLayout::LibataShifted;
    }
    // Where error, status, device, count, the flags byte and LBA (7:0) lie; the
    // LBA's other two bytes follow (or precede, reversed).
    const bool shifted = layout == FixedLayout::LibataShifted;
    const std::size_t first = shifted ? 8 : 3;
    const std::size_t flags = shifted ? 16 : 8;
    Registers& r = decoded.registers;
    r = Registers{};
    r.error = sense[first];
    r.status = sense[first + 1];
    r.device = sense[first + 2];
    r.count = sense[first + 3];
    if (layout == FixedLayout::SatLbaReversed) {
        r.lbaHigh = byteAt(sense, flags + 1);
        r.lbaLow = byteAt(sense, flags + 3);
    } else {
        r.lbaLow = byteAt(sense, flags + 1);
        r.lbaHigh = byteAt(sense, flags + 3);
    }
    r.lbaMid = byteAt(sense, flags + 2);
    // The (15:8) bytes do not fit; the flags byte only says whether they were zero.
    decoded.verdict = SenseVerdict::Registers;
    return decoded;
}

}  // namespace

bool decodeStatusReturnDescriptor(std::span<const uint8_t> d, Registers& r) {
    if (d.size() < kStatusReturnDescriptorLength || d[1] < 0x0C) return false;
    r = Registers{};
    r.error = d[3];
    r.countExp = d[4];
    r.count = d[5];
    r.lbaLowExp = d[6];
    r.lbaLow = d[7];
    r.lbaMidExp = d[8];
    r.lbaMid = d[9];
    r.lbaHighExp = d[10];
    r.lbaHigh = d[11];
    r.device = d[12];
    r.status = d[13];
    return true;
}

DecodedSense decodeSense(std::span<const uint8_t> sense, FixedLayout layout) {
    DecodedSense decoded;
    if (sense.empty()) return tooShort(decoded, 1);
    decoded.responseCode = static_cast<uint8_t>(sense[0] & 0x7F);
    switch (decoded.responseCode) {
    case kStatusReturnDescriptor:
        if (!decodeStatusReturnDescriptor(sense, decoded.registers)) return tooShort(decoded, kStatusReturnDescriptorLength);
        decoded.verdict = SenseVerdict::Registers;
        return decoded;
    case kDescriptorCurrent:
    case kDescriptorDeferred: return decodeDescriptorFormat(sense, decoded);
    case kFixedCurrent:
    case kFixedDeferred: return decodeFixedFormat(sense, layout, decoded);
    default: return decoded;
    }
}

bool isPassThroughInformation(const SenseCode& code) {
    return (code.key == 0x00 || code.key == 0x01) && code.asc == 0x00 && code.ascq == 0x1D;
}

}  // namespace sat
