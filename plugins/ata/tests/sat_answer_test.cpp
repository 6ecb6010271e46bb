// Reading the kernel's answer to an ATA PASS-THROUGH: only an ATA error in
// the registers makes a CHECK CONDITION the drive's verdict; a failure that no
// register explains, or sense without registers, never reads as success.
#include <gtest/gtest.h>

#include <vector>

#include "sat_pass_through.h"

namespace {

using ata_plugin::PassThroughResult;
using ata_plugin::readAnswer;

constexpr uint8_t kGood = 0x00, kCheckCondition = 0x02;

PassThroughResult answer(uint8_t status, const std::vector<uint8_t>& sense) {
    PassThroughResult result;
    readAnswer(status, sense, result);
    return result;
}

// Debian 12 fixed-format sense, registers from byte 8: key, error, status.
std::vector<uint8_t> shiftedSense(uint8_t key, uint8_t error, uint8_t status) {
    return {0x70, 0, key, 0, 0, 0, 0, 0x0A, error, status, 0xE0, 0, 0, 0, 0, 0, 0, 0};
}

TEST(SatAnswer, OnlyAnAtaErrorIsTheDrivesVerdict) {
    PassThroughResult refused = answer(kCheckCondition, shiftedSense(0x0B, 0x04, 0x51));
    EXPECT_EQ(0, refused.systemError);
    EXPECT_TRUE(refused.registersValid);
    EXPECT_FALSE(refused.senseFailure);
    EXPECT_EQ(0x51, refused.registers.status);

    // ABORTED COMMAND for a status with only DRQ (a PIO data-in register
    // snapshot) or BSY: the registers do not say the drive refused, and
    // nothing says it succeeded.
    for (uint8_t status : {0x58, 0xD0, 0x00}) {
        PassThroughResult unexplained = answer(kCheckCondition, shiftedSense(0x0B, 0x00, status));
        EXPECT_TRUE(unexplained.senseFailure) << int(status);
        EXPECT_EQ(0x0B, unexplained.sense.key);
    }

    // The translation refused the command block: sense without registers.
    const std::vector<uint8_t> invalidField = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
    PassThroughResult notCarried = answer(kCheckCondition, invalidField);
    EXPECT_TRUE(notCarried.senseFailure);
    EXPECT_FALSE(notCarried.registersValid);
    EXPECT_EQ(0x24, notCarried.sense.asc);

    // CK_COND success and plain GOOD.
    const std::vector<uint8_t> information = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0,
                                              0,    0x02, 0,    0,    0, 0, 0, 0,  0xE0, 0x50};
    PassThroughResult done = answer(kCheckCondition, information);
    EXPECT_FALSE(done.senseFailure);
    EXPECT_EQ(0x02, done.registers.count);
    PassThroughResult good = answer(kGood, {});
    EXPECT_TRUE(good.registersValid);
    EXPECT_EQ(0x50, good.registers.status);
    EXPECT_EQ(5, answer(kCheckCondition, {}).systemError) << "EIO";
}

}  // namespace
