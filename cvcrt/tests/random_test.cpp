#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "cvcrt.h"

namespace {

struct RandomDeleter {
    void operator()(Random* r) const { RandomDestroy(r); }
};
using RandomPtr = std::unique_ptr<Random, RandomDeleter>;

// The generator written out from its description, as a check on the library.
class ReferenceRandom {
public:
    explicit ReferenceRandom(uint32_t seed) {
        uint32_t x = seed;
        for (int i = 0; i < 17; ++i) {
            x = x * 2891336453u + 1u;
            word0_[i] = x;
            x = x * 2891336453u + 1u;
            word1_[i] = x;
        }
        for (int i = 0; i < 32; ++i) Next();
    }

    uint64_t Next() {
        const uint32_t z = Rotl(word0_[p_], 19) + word0_[q_];
        const uint32_t y = Rotl(word1_[p_], 27) + word1_[q_];
        word0_[p_] = y;
        word1_[p_] = z;
        p_ = (p_ + 16) % 17;
        q_ = (q_ + 16) % 17;
        return uint64_t{z} << 32 | y;
    }

private:
    static uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
    uint32_t word0_[17]{};
    uint32_t word1_[17]{};
    int p_ = 0;
    int q_ = 10;
};

// One register step: shift a byte left and feed back the old top byte times 0x1B.
uint64_t ReferenceBitsStep(uint64_t state) {
    const uint64_t top = state >> 56;
    uint64_t feedback = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (top & (1u << bit)) feedback ^= uint64_t{0x1B} << bit;
    return (state << 8) ^ feedback;
}

TEST(Random, MatchesTheDescribedGenerator) {
    for (uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        RandomPtr random(RandomCreate(seed));
        ReferenceRandom reference(seed);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(RandomNext(random.get()), reference.Next()) << seed << " #" << i;
    }
}

TEST(Random, ScaledValuesAreTheNextValueModuloN) {
    RandomPtr random(RandomCreate(99));
    ReferenceRandom reference(99);
    for (uint64_t n : {1ull, 7ull, 1000ull, 1ull << 40}) EXPECT_EQ(RandomNextScaled(random.get(), n), reference.Next() % n);
    EXPECT_EQ(RandomNextScaled(random.get(), 0), 0u);
    reference.Next();  // a zero modulus still advances the generator
    EXPECT_EQ(RandomNext(random.get()), reference.Next());
}

TEST(RandomBits, StepsMatchTheShiftRegister) {
    uint64_t state = 0x0123456789ABCDEFull;
    uint64_t expected = state;
    for (int i = 0; i < 50; ++i) {
        expected = ReferenceBitsStep(expected);
        ASSERT_EQ(RandomBitsNext8(&state), static_cast<uint8_t>(expected >> 32));
        ASSERT_EQ(state, expected);
    }
    for (int i = 0; i < 4; ++i) expected = ReferenceBitsStep(expected);
    EXPECT_EQ(RandomBitsNext32(&state), static_cast<uint32_t>(expected));
    EXPECT_EQ(state, expected);
}

TEST(RandomBits, FillWritesWordsLowByteFirstThenSingleBytes) {
    const uint64_t seed = 0xFEEDFACECAFEBEEFull;
    uint64_t state = seed;
    std::vector<uint8_t> expected;
    for (int word = 0; word < 2; ++word) {
        const uint32_t v = RandomBitsNext32(&state);
        for (int b = 0; b < 4; ++b) expected.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    for (int i = 0; i < 3; ++i) expected.push_back(RandomBitsNext8(&state));
    std::array<uint8_t, 12> buffer{};
    buffer[11] = 0xAA;
    EXPECT_EQ(RandomBitsFill(buffer.data(), 11, seed), state);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 11), expected);
    EXPECT_EQ(buffer[11], 0xAA);
    EXPECT_EQ(RandomBitsFill(buffer.data(), 0, seed), seed);
}

TEST(Crc16, CheckValueAndSelfTest) {
    const char* digits = "123456789";
    EXPECT_EQ(CRCCreateCCITT16(digits, 9), 0x31C3);
    uint8_t framed[11];
    std::memcpy(framed, digits, 9);
    framed[9] = 0x31;
    framed[10] = 0xC3;
    EXPECT_EQ(CRCTestCCITT16(framed, 11), 1);
    framed[4] ^= 0x10;
    EXPECT_EQ(CRCTestCCITT16(framed, 11), 0);
    EXPECT_EQ(CRCTestCCITT16(framed, 0), 1);
    EXPECT_EQ(CRCCreateCCITT16(framed, 0), 0);
}

TEST(Crc16, MatchesBitwiseComputation) {
    std::array<uint8_t, 300> data{};
    RandomBitsFill(data.data(), static_cast<int32_t>(data.size()), 42);
    uint16_t crc = 0;
    for (uint8_t byte : data) {
        crc = static_cast<uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    EXPECT_EQ(CRCCreateCCITT16(data.data(), static_cast<int32_t>(data.size())), crc);
}

TEST(Checksum8, ComplementsTheByteSum) {
    const uint8_t data[] = {0x01, 0x02, 0xFD};
    EXPECT_EQ(ChecksumCreate8(data, 2), 0xFD);
    EXPECT_EQ(ChecksumTest8(data, 3), 1);
    EXPECT_EQ(ChecksumTest8(data, 2), 0);
    const uint8_t wraps[] = {0xFF, 0x01};
    EXPECT_EQ(ChecksumCreate8(wraps, 2), 0x00);
    EXPECT_EQ(ChecksumTest8(data, 0), 1);
}

}  // namespace
