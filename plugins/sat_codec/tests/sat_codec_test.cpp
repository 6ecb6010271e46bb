// The SAT codec on the bytes kernels and translators really return: fixed
// sense in both register layouts, descriptor sense with the Status Return
// descriptor anywhere in it, truncated sense, command blocks of both sizes,
// and IDENTIFY data told from what a do-nothing bridge hands back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "sat_codec/identify_data.h"
#include "sat_codec/sat_cdb.h"
#include "sat_codec/sat_sense.h"

namespace {

using sat::DecodedSense;
using sat::FixedLayout;
using sat::SenseVerdict;

DecodedSense decode(const std::vector<uint8_t>& sense, FixedLayout layout = FixedLayout::Detect) {
    return sat::decodeSense(sense, layout);
}

// An aborted DOWNLOAD MICROCODE (status 51h, error 04h) as Debian 12's libata
// returns it: ABORTED COMMAND 00h/00h, the registers eight bytes past their
// SAT place, 18 bytes in all (LBA mid and high are cut off).
const std::vector<uint8_t> kShifted = {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x51, 0xE0, 0x10,
                                       0x00, 0x00, 0, 0, 0x00, 0x02};
// The same answer where SAT puts the registers, LBA 030402h.
const std::vector<uint8_t> kSat = {0xF0, 0, 0x0B, 0x04, 0x51, 0xE0, 0x10, 0x0A, 0x00, 0x02, 0x04, 0x03,
                                   0x00, 0x00, 0, 0, 0, 0};

TEST(SatSense, FixedFormatInBothRegisterLayouts) {
    for (const auto& [bytes, layout] : {std::pair{kShifted, FixedLayout::Detect},
                                        std::pair{kShifted, FixedLayout::LibataShifted},
                                        std::pair{kSat, FixedLayout::Detect}, std::pair{kSat, FixedLayout::Sat}}) {
        const DecodedSense d = decode(bytes, layout);
        ASSERT_EQ(SenseVerdict::Registers, d.verdict);
        EXPECT_EQ(0x0B, d.code.key);
        EXPECT_EQ(0x04, d.registers.error);
        EXPECT_EQ(0x51, d.registers.status);
        EXPECT_EQ(0xE0, d.registers.device);
        EXPECT_EQ(0x10, d.registers.count);
        EXPECT_EQ(0x02, d.registers.lbaLow);
    }
    EXPECT_EQ(0x00, decode(kShifted).registers.lbaMid) << "not returned by the kernel";
    EXPECT_EQ(0x04, decode(kSat).registers.lbaMid);
    EXPECT_EQ(0x03, decode(kSat).registers.lbaHigh);

    // Early translators give LBA (23:16) first.
    const DecodedSense reversed = decode(kSat, FixedLayout::SatLbaReversed);
    EXPECT_EQ(0x03, reversed.registers.lbaLow);
    EXPECT_EQ(0x02, reversed.registers.lbaHigh);

    // Any ASC/ASCQ: the registers do not depend on what libata mapped.
    std::vector<uint8_t> mediumError = kSat;
    mediumError[2] = 0x03;
    mediumError[12] = 0x11;
    mediumError[13] = 0x04;
    const DecodedSense medium = decode(mediumError);
    EXPECT_EQ(0x11, medium.code.asc);
    EXPECT_EQ(0x51, medium.registers.status);

    EXPECT_EQ(SenseVerdict::TooShort, decode({kShifted.begin(), kShifted.begin() + 11}).verdict);
}

TEST(SatSense, DescriptorFormatFindsTheStatusReturnDescriptor) {
    // CK_COND success: RECOVERED ERROR 00h/1Dh, an information descriptor
    // first, then the Status Return descriptor of a 48-bit command.
    std::vector<uint8_t> sense = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
                                  0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  0x09, 0x0C, 0x01, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x40, 0x50};
    DecodedSense d = decode(sense);
    ASSERT_EQ(SenseVerdict::Registers, d.verdict);
    EXPECT_TRUE(sat::isPassThroughInformation(d.code));
    EXPECT_EQ(0x12, d.registers.countExp);
    EXPECT_EQ(0x34, d.registers.count);
    EXPECT_EQ(0x78, d.registers.lbaLow);
    EXPECT_EQ(0x9A, d.registers.lbaMidExp);
    EXPECT_EQ(0xF0, d.registers.lbaHigh);
    EXPECT_EQ(0x40, d.registers.device);
    EXPECT_EQ(0x50, d.registers.status);

    // Cut inside the descriptor, or an additional length that claims more
    // than was returned: no registers read past the end.
    sense.resize(30);
    EXPECT_EQ(SenseVerdict::TooShort, decode(sense).verdict);
    sense.resize(20);
    EXPECT_EQ(SenseVerdict::NoDescriptor, decode(sense).verdict);

    // The descriptor alone, as PROTOCOL 15 returns it.
    std::vector<uint8_t> descriptor = {0x09, 0x0C, 0, 0x04, 0, 0x01, 0, 0x02, 0, 0x03, 0, 0x04, 0xE0, 0x51};
    d = decode(descriptor);
    ASSERT_EQ(SenseVerdict::Registers, d.verdict);
    EXPECT_EQ(0x04, d.registers.error);
    EXPECT_EQ(0x51, d.registers.status);
    EXPECT_EQ(SenseVerdict::UnknownFormat, decode({0x7F, 0, 0, 0}).verdict);
    EXPECT_EQ(SenseVerdict::TooShort, decode({}).verdict);
}

TEST(SatCdb, SixteenAndTwelveByteBlocks) {
    sat::Command command;
    command.protocol = sat::Protocol::PioOut;
    command.transfer = sat::Transfer::ToDevice;
    command.extend = true;
    command.checkCondition = true;
    command.taskfile = {0x03, 0x13, 0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0xE0, 0x92};
    const auto cdb16 = sat::buildCdb16(command);
    const std::array<uint8_t, 16> expected16 = {0x85, 0x0B, 0x26, 0x13, 0x03, 0x11, 0x10, 0x21,
                                                0x20, 0x31, 0x30, 0x41, 0x40, 0xE0, 0x92, 0x00};
    EXPECT_EQ(expected16, cdb16);

    command.protocol = sat::Protocol::PioIn;
    command.transfer = sat::Transfer::FromDevice;
    command.checkCondition = false;
    const auto cdb12 = sat::buildCdb12(command);
    const std::array<uint8_t, 12> expected12 = {0xA1, 0x08, 0x0E, 0x03, 0x10, 0x20, 0x30, 0x40, 0xE0, 0x92, 0, 0};
    EXPECT_EQ(expected12, cdb12) << "no (15:8) bytes and no EXTEND";
}

std::array<uint8_t, 512> identifyData(bool checksum) {
    std::array<uint8_t, 512> data{};
    data[0] = 0x40;  // word 0: fixed device
    const char model[] = "TV-0002 Series                          ";
    std::memcpy(data.data() + 54, model, 40);
    if (checksum) {
        data[510] = 0xA5;
        unsigned sum = 0;
        for (std::size_t i = 0; i < 511; ++i) sum += data[i];
        data[511] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    }
    return data;
}

TEST(IdentifyData, TellsIdentifyDataFromWhatABridgeLeaves) {
    EXPECT_TRUE(sat::isIdentifyDeviceData(identifyData(true)));
    EXPECT_TRUE(sat::isIdentifyDeviceData(identifyData(false))) << "no signature, no checksum to check";

    std::array<uint8_t, 512> data{};
    EXPECT_FALSE(sat::isIdentifyDeviceData(data)) << "untouched buffer";
    data.fill(0xFF);
    EXPECT_FALSE(sat::isIdentifyDeviceData(data));
    data = identifyData(true);
    data[200] ^= 0x01;
    EXPECT_FALSE(sat::isIdentifyDeviceData(data)) << "checksum";
    data = identifyData(false);
    data[1] = 0x85;  // an ATAPI device
    EXPECT_FALSE(sat::isIdentifyDeviceData(data));
    data = identifyData(false);
    data[60] = 0x07;
    EXPECT_FALSE(sat::isIdentifyDeviceData(data)) << "model with control characters";
}

}  // namespace
