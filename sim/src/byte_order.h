// Little- and big-endian field access for the byte layouts the drives answer with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace simdrive {

inline void putLe16(std::span<uint8_t> out, std::size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline void putLe32(std::span<uint8_t> out, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void putLe64(std::span<uint8_t> out, std::size_t at, uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void putBe16(std::span<uint8_t> out, std::size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}
inline void putBe32(std::span<uint8_t> out, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
inline void putBe64(std::span<uint8_t> out, std::size_t at, uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(value >> (56 - 8 * i));
}
inline uint16_t getLe16(std::span<const uint8_t> in, std::size_t at) {
    return static_cast<uint16_t>(in[at] | in[at + 1] << 8);
}
inline uint32_t getLe32(std::span<const uint8_t> in, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    return value;
}
inline uint32_t getBe24(std::span<const uint8_t> in, std::size_t at) {
    return static_cast<uint32_t>(in[at]) << 16 | static_cast<uint32_t>(in[at + 1]) << 8 | in[at + 2];
}
inline uint32_t getBe32(std::span<const uint8_t> in, std::size_t at) {
    return static_cast<uint32_t>(in[at]) << 24 | getBe24(in, at + 1);
}

}  // namespace simdrive
