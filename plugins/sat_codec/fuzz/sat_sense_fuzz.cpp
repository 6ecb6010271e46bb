// Feeds arbitrary bytes to the sense decoder in every fixed-format layout and
// to the IDENTIFY data check: no read past the bytes given, registers only
// from enough bytes, and layout detection that picks a layout kernels write.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "sat_codec/identify_data.h"
#include "sat_codec/sat_sense.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    for (sat::FixedLayout layout : {sat::FixedLayout::Sat, sat::FixedLayout::SatLbaReversed,
                                    sat::FixedLayout::LibataShifted, sat::FixedLayout::Detect}) {
        const sat::DecodedSense decoded = sat::decodeSense(bytes, layout);
        if (decoded.verdict == sat::SenseVerdict::TooShort) Check(decoded.needed > 0);
        if (decoded.verdict == sat::SenseVerdict::Registers) Check(size >= 12);
    }
    // Detection picks one of the two layouts a kernel writes.
    const sat::DecodedSense detected = sat::decodeSense(bytes, sat::FixedLayout::Detect);
    if (detected.verdict == sat::SenseVerdict::Registers && (data[0] & 0x7E) == 0x70) {
        const auto same = [&](sat::FixedLayout layout) {
            const sat::Registers r = sat::decodeSense(bytes, layout).registers;
            return std::memcmp(&r, &detected.registers, sizeof r) == 0;
        };
        Check(same(sat::FixedLayout::Sat) || same(sat::FixedLayout::LibataShifted));
    }
    if (size >= sat::kIdentifyDataLength)
        (void)sat::isIdentifyDeviceData(bytes.first<sat::kIdentifyDataLength>());
    return 0;
}
