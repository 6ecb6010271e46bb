// Lagged-Fibonacci generator with rotation: 17 pairs of 32-bit words, a read
// pointer and a second pointer 10 entries behind it, both walking downwards.
#include <array>
#include <bit>
#include <memory>

#include "cvcrt/random.h"
#include "guard.h"

struct Random {
    int32_t readPointer = 0;
    int32_t secondPointer = 10;
    std::array<std::array<uint32_t, 2>, 17> buffer{};
};

namespace {

constexpr uint32_t kSeedMultiplier = 2891336453u;
constexpr int kWarmUpSteps = 32;

int32_t Previous(int32_t pointer) { return pointer == 0 ? 16 : pointer - 1; }

// Returns z * 2^32 + y.
uint64_t Step(Random& r) {
    auto& p = r.buffer[static_cast<size_t>(r.readPointer)];
    const auto& q = r.buffer[static_cast<size_t>(r.secondPointer)];
    const uint32_t z = std::rotl(p[0], 19) + q[0];
    const uint32_t y = std::rotl(p[1], 27) + q[1];
    p[0] = y;
    p[1] = z;
    r.readPointer = Previous(r.readPointer);
    r.secondPointer = Previous(r.secondPointer);
    return (static_cast<uint64_t>(z) << 32) | y;
}

}  // namespace

Random* RandomCreate(uint32_t seed) {
    return cvcrt::NoThrow<Random*>(nullptr, [seed] {
        auto r = std::make_unique<Random>();
        uint32_t x = seed;
        for (auto& entry : r->buffer) {
            for (uint32_t& word : entry) {
                x = x * kSeedMultiplier + 1;
                word = x;
            }
        }
        for (int i = 0; i < kWarmUpSteps; ++i) Step(*r);
        return r.release();
    });
}

void RandomDestroy(Random* random) { std::unique_ptr<Random> owned(random); }

uint64_t RandomNext(Random* random) { return random ? Step(*random) : 0; }

uint64_t RandomNextScaled(Random* random, uint64_t n) {
    const uint64_t value = RandomNext(random);
    return n == 0 ? 0 : value % n;
}
