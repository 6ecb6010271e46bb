// Checking IDENTIFY DEVICE data.
#include "sat_codec/identify_data.h"

#include <algorithm>
#include <numeric>

namespace sat {

namespace {
constexpr std::size_t kModelOffset = 27 * 2, kModelLength = 40;
constexpr uint8_t kNotAtaDevice = 0x80;  // word 0 bit 15, in its high byte
constexpr uint8_t kChecksumSignature = 0xA5;
}  // namespace

bool isIdentifyDeviceData(std::span<const uint8_t, kIdentifyDataLength> data) {
    if (std::all_of(data.begin(), data.end(), [&](uint8_t byte) { return byte == data[0]; })) return false;
    if ((data[1] & kNotAtaDevice) != 0) return false;
    const auto model = data.subspan(kModelOffset, kModelLength);
    if (!std::all_of(model.begin(), model.end(), [](uint8_t c) { return c == 0 || (c >= 0x20 && c < 0x7F); }))
        return false;
    if (data[510] != kChecksumSignature) return true;
    return std::accumulate(data.begin(), data.end(), 0u) % 256u == 0;
}

}  // namespace sat
