// Random bits from a 64-bit shift register advanced a byte at a time: the top
// byte T rotates into the low byte and the carry-less product T x 0x1A is folded
// into the low 16 bits, giving feedback T x 0x1B in all.
#include <array>
#include <bit>

#include "cvcrt/random.h"

namespace {

constexpr uint16_t CarrylessTimes0x1A(unsigned value) {
    uint16_t product = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (value & (1u << bit)) product ^= static_cast<uint16_t>(0x1Au << bit);
    return product;
}

constexpr std::array<uint16_t, 256> kFeedback = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) table[i] = CarrylessTimes0x1A(i);
    return table;
}();

void StepByte(uint64_t& state) {
    const auto top = static_cast<uint8_t>(state >> 56);
    state = std::rotl(state, 8) ^ kFeedback[top];
}

}  // namespace

uint8_t RandomBitsNext8(uint64_t* state) {
    if (!state) return 0;
    StepByte(*state);
    return static_cast<uint8_t>(*state >> 32);
}

uint32_t RandomBitsNext32(uint64_t* state) {
    if (!state) return 0;
    for (int i = 0; i < 4; ++i) StepByte(*state);
    return static_cast<uint32_t>(*state);
}

uint64_t RandomBitsFill(void* buffer, int32_t length, uint64_t state) {
    if (!buffer || length <= 0) return state;
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const uint32_t word = RandomBitsNext32(&state);
        for (int b = 0; b < 4; ++b) out[i + b] = static_cast<uint8_t>(word >> (8 * b));  // low byte first
    }
    for (; i < length; ++i) out[i] = RandomBitsNext8(&state);
    return state;
}
