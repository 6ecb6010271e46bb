// cvpl-atacb against ATA drives behind the simulated ATACB bridge: the disks
// it takes (USB only), the command blocks it builds, the two requests of a
// 48-bit command, and the registers read back after each command.
#include <gtest/gtest.h>

#include <vector>

#include "atacb_cdb.h"
#include "usb_bridge_fixture.h"

namespace {

using usb_bridge_test::UsbBridgeTest;

class AtacbPluginTest : public UsbBridgeTest {
protected:
    void SetUp() override {
        UsbBridgeTest::SetUp();
        disk_ = &bridged("/dev/sdu", "atacb", "ACB0001");
        plugin_ = loadPlugin("cvpl-atacb");
        drainEvents();
        ASSERT_NE(CV_UID_NONE, serviceOf(disk_->resource(), ATA_DEVICE_SERVICE_TYPE));
    }
    void TearDown() override {
        unloadPlugin(plugin_);
        UsbBridgeTest::TearDown();
    }
    uint32_t requests() { return kernel().observed().sgRequests; }
    // The command blocks of the requests since `first`.
    std::vector<std::vector<uint8_t>> sentSince(uint32_t first) {
        const auto recent = kernel().observed().recentCdbs;
        const std::size_t count = std::min<std::size_t>(requests() - first, recent.size());
        return {recent.end() - static_cast<std::ptrdiff_t>(count), recent.end()};
    }
    static std::vector<uint8_t> cdb(std::initializer_list<uint8_t> head) {
        std::vector<uint8_t> bytes(head);
        bytes.resize(16, 0);
        return bytes;
    }

    passthrough_test::FakeDisk* disk_ = nullptr;
    CvUID plugin_ = CV_UID_NONE;
};

// ATACB is sent to USB disks only; a SAT bridge and a bridge without ATA
// pass-through refuse it and get nothing.
TEST_F(AtacbPluginTest, TakesOnlyUsbDisksWhoseBridgeAnswersAtacb) {
    EXPECT_EQ(cdb({0x24, 0x24, 0x80, 0x80, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xEC}), kernel().observed().recentCdbs.at(0));
    EXPECT_EQ(512u, kernel().observed().sgDataLength);

    addDrive<simdrive::AtaDrive>("/dev/sdv", "kind=ata; model=VT-2000; serial=ACB0002; revision=VT01");
    kernel().setUsbBridge("/dev/sdv", *simdrive::parseUsbBridge("atacb"));
    const uint32_t before = requests();
    auto& notUsb = publish("/dev/sdv");
    drainEvents();
    EXPECT_EQ(CV_UID_NONE, serviceOf(notUsb.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(before, requests()) << "nothing was sent to a disk off the USB bus";

    auto& sat = bridged("/dev/sdw", "sat", "ACB0003");
    auto& noAta = bridged("/dev/sdx", "no-ata", "ACB0004");
    drainEvents();
    EXPECT_EQ(CV_UID_NONE, serviceOf(sat.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(CV_UID_NONE, serviceOf(noAta.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING));

    const CvUID service = serviceOf(disk_->resource(), ATA_DEVICE_SERVICE_TYPE);
    uint32_t word = 0;
    ASSERT_EQ(1, run(disk_->resource(), service, DEVICE_FUNCTION_GET_CAPABILITIES, &word, 4).result);
    EXPECT_EQ(4u, word);
    ASSERT_EQ(1, run(disk_->resource(), service, DEVICE_FUNCTION_GET_ABILITY_COUNT, &word, 4).result);
    EXPECT_EQ(5u, word);
    int32_t index = 4;
    AtaAbility ability{};
    ASSERT_EQ(1, run(disk_->resource(), service, DEVICE_FUNCTION_GET_ABILITY, &index, 4, &ability, sizeof ability).result);
    EXPECT_EQ(11, ability.identifier);
    EXPECT_EQ(131072u, ability.maxTransferBytes);
    EXPECT_EQ(0x0FFB, ability.returnedRegisters);
    Outcome reset = run(disk_->resource(), service, ATA_DEVICE_FUNCTION_RESET, nullptr, 0);
    EXPECT_STREQ("Unsupported function code: 8", reset.error.message);
}

TEST_F(AtacbPluginTest, CommandsAndTheirTaskfileRead) {
    // IDENTIFY with action select 80h; the taskfile read follows.
    AtaCommandBlock identify = identifyBlock();
    std::vector<uint8_t> data(131072);
    uint32_t first = requests();
    Outcome outcome = command(*disk_, identify, data.data(), 512);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{cdb({0x24, 0x24, 0x80, 0xFE, 0x01, 0, 0, 0x01, 0, 0, 0, 0, 0xEC}),
                                                 cdb({0x24, 0x24, 0x01, 0xFF})}),
              sentSince(first));
    EXPECT_EQ(0x50, identify.outStatus);
    EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, identify.resultFlags);
    EXPECT_EQ('V', data[27 * 2 + 1]);

    // 131072 bytes are 256 blocks: 0 in the block count byte. DMA: 40h.
    AtaCommandBlock dma{};
    dma.protocol = ATA_PROTOCOL_DMA_OUT;
    dma.inputMask = ATA_REG_SET_28BIT;
    dma.features = 0x0E;
    dma.command = 0x93;
    first = requests();
    outcome = command(*disk_, dma, data.data(), 131072);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(cdb({0x24, 0x24, 0x40, 0xFE, 0x00, 0, 0x0E, 0, 0, 0, 0, 0, 0x93}), sentSince(first).at(0));

    // The drive's refusal is in the registers, the call succeeds.
    AtaCommandBlock refused = refusedDownload();
    outcome = command(*disk_, refused, data.data(), 512);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0x51, refused.outStatus);
    EXPECT_EQ(0x04, refused.outError);

    AtaTaskfileBlock taskfile{};
    taskfile.cleared = 0xFFFFFFFF;
    outcome = run(disk_->resource(), serviceOf(disk_->resource(), ATA_DEVICE_SERVICE_TYPE),
                  ATA_DEVICE_FUNCTION_READ_TASKFILE, &taskfile, sizeof taskfile);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0u, taskfile.cleared);
    EXPECT_EQ(0x04, taskfile.error);
}

// The (15:8) registers go first, on their own and without the command; the
// input mask is the caller's again afterwards. Features (15:8) is never sent.
TEST_F(AtacbPluginTest, PreviousRegistersTravelInARequestOfTheirOwn) {
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_NON_DATA_EXT;
    block.inputMask = ATA_REG_COUNT | ATA_REG_COUNT_EXP | ATA_REG_COMMAND;
    block.count = 0x12;
    block.countExp = 0x34;
    block.command = 0xE5;
    uint32_t first = requests();
    Outcome outcome = command(*disk_, block);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{cdb({0x24, 0x24, 0x00, 0x04, 0x00, 0, 0, 0x34}),
                                                 cdb({0x24, 0x24, 0x00, 0x84, 0x00, 0, 0, 0x12, 0, 0, 0, 0, 0xE5}),
                                                 cdb({0x24, 0x24, 0x01, 0xFF})}),
              sentSince(first));
    EXPECT_EQ(ATA_REG_COUNT | ATA_REG_COUNT_EXP | ATA_REG_COMMAND, block.inputMask);

    // A 48-bit data transfer: the first request moves no data.
    AtaCommandBlock read{};
    read.protocol = ATA_PROTOCOL_PIO_IN_EXT;
    read.inputMask = ATA_REG_SET_48BIT & ~ATA_REG_COUNT_EXP;
    read.count = 1;
    read.lbaLowExp = 0x11;
    read.lbaMidExp = 0x22;
    read.lbaHighExp = 0x33;
    read.command = 0xEC;
    std::vector<uint8_t> data(512);
    first = requests();
    outcome = command(*disk_, read, data.data(), 512);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    const auto sent = sentSince(first);
    ASSERT_EQ(3u, sent.size());
    EXPECT_EQ(cdb({0x24, 0x24, 0x00, 0x38, 0x00, 0, 0, 0, 0x11, 0x22, 0x33}), sent[0]);
    EXPECT_EQ(0x01, sent[1][4]);

    AtaCommandBlock featuresOnly{};
    featuresOnly.protocol = ATA_PROTOCOL_NON_DATA_EXT;
    featuresOnly.inputMask = ATA_REG_FEATURES_EXP | ATA_REG_COMMAND;
    featuresOnly.featuresExp = 0x77;
    featuresOnly.command = 0xE5;
    first = requests();
    ASSERT_EQ(1, command(*disk_, featuresOnly).result);
    EXPECT_EQ(cdb({0x24, 0x24, 0x00, 0x80, 0x00, 0, 0, 0, 0, 0, 0, 0, 0xE5}), sentSince(first).at(0));
    EXPECT_EQ(2u, requests() - first);
}

TEST(AtacbCdb, TaskfileReplyTooShortHoldsNoRegisters) {
    AtaTaskfileBlock r{};
    const std::vector<uint8_t> reply = {0, 0x04, 0x01, 0x02, 0x03, 0x04, 0xE0, 0x51};
    EXPECT_FALSE(atacb::decodeTaskfileReply({reply.data(), 7}, r));
    EXPECT_EQ(0, r.status);
    ASSERT_TRUE(atacb::decodeTaskfileReply(reply, r));
    EXPECT_EQ(0x51, r.status);
    EXPECT_EQ(0x04, r.error);
    EXPECT_EQ(0x04, r.lbaHigh);
    EXPECT_EQ(0xE0, r.device);
}

}  // namespace
