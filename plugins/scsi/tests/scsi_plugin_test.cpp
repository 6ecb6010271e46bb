// cvpl-scsi against the simulated kernel: the probe, SG_IO commands with their
// status, sense, underrun and 1-byte transfers, a firmware download, commands
// the kernel timed out or refused for their size, the refusals of the
// contract, and a disk that goes away and comes back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/scsi_device.h"
#include "passthrough_fixture.h"
#include "sim_test_support.h"

namespace {

using passthrough_test::PassThroughTest;
using simdrive::ScsiDrive;

class ScsiPluginTest : public PassThroughTest {
protected:
    void SetUp() override {
        PassThroughTest::SetUp();
        drive_ = addDrive<ScsiDrive>("/dev/sdb", simdrive::test::kScsiVt);
        addDrive<simdrive::AtaDrive>("/dev/sda", simdrive::test::kAtaVt);
        addDrive<simdrive::NvmeDrive>("/dev/nvme0n1", simdrive::test::kNvmeVt);
        disk_ = &publish("/dev/sdb", DRIVE_INFO_SCSI_TOPOLOGY_VALID | DRIVE_INFO_SAS_ADDRESS_VALID);
        ataDisk_ = &publish("/dev/sda", DRIVE_INFO_DEVICE_BLOCK_VALID);
        nvmeDisk_ = &publish("/dev/nvme0n1");
        loadPlugin("cvpl-scsi");
        service_ = serviceOf(disk_->resource(), SCSI_DEVICE_SERVICE_TYPE);
        ASSERT_NE(CV_UID_NONE, service_);
    }

    static ScsiCommandBlock cdbBlock(std::initializer_list<uint8_t> cdb, uint8_t direction) {
        ScsiCommandBlock block{};
        block.direction = direction;
        block.cdbLength = static_cast<uint8_t>(cdb.size());
        std::copy(cdb.begin(), cdb.end(), block.cdb);
        return block;
    }

    Outcome command(ScsiCommandBlock& block, void* data = nullptr, uint32_t length = 0, CvUID resource = CV_UID_NONE,
                    CvUID service = CV_UID_NONE) {
        if (resource == CV_UID_NONE) {
            resource = disk_->resource();
            service = service_;
        }
        return run(resource, service, DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block, data, length);
    }

    std::string inquiryRevision() {
        ScsiCommandBlock block = cdbBlock({0x12, 0, 0, 0, 36, 0}, SCSI_DIRECTION_IN);
        std::vector<uint8_t> data(36);
        EXPECT_EQ(1, command(block, data.data(), 36).result);
        return std::string(data.begin() + 32, data.begin() + 36);
    }

    ScsiDrive* drive_ = nullptr;
    passthrough_test::FakeDisk* disk_ = nullptr;
    passthrough_test::FakeDisk* ataDisk_ = nullptr;
    passthrough_test::FakeDisk* nvmeDisk_ = nullptr;
    CvUID service_ = CV_UID_NONE;
};

TEST_F(ScsiPluginTest, DisksThatAnswerInquiryGetTheService) {
    // A libata disk answers the translated INQUIRY too.
    CvUID ataService = serviceOf(ataDisk_->resource(), SCSI_DEVICE_SERVICE_TYPE);
    ASSERT_NE(CV_UID_NONE, ataService);
    EXPECT_EQ(CV_UID_NONE, serviceOf(nvmeDisk_->resource(), SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING));

    ScsiCommandBlock block = cdbBlock({0x12, 0, 0, 0, 36, 0}, SCSI_DIRECTION_IN);
    std::vector<uint8_t> data(36);
    ASSERT_EQ(1, command(block, data.data(), 36, ataDisk_->resource(), ataService).result);
    EXPECT_EQ("ATA     ", std::string(data.begin() + 8, data.begin() + 16));
    uint16_t support = 0xFFFF;
    ASSERT_EQ(1, run(ataDisk_->resource(), ataService, 8, &support, 2).result);
    EXPECT_EQ(0x00CF, support) << "the disk carries a device block";

    auto& odd = publish("/dev/sdb", 0, 7);
    drainEvents();
    EXPECT_EQ(CV_UID_NONE, serviceOf(odd.resource(), SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_TRUE(has(CV_LOG_WARNING, "unrecognized node type for resource " + std::to_string(odd.resource()) +
                                        " - type: 7"));
}

TEST_F(ScsiPluginTest, InquiryStatusAndTimeout) {
    DeviceSetting setting{5500000000ull, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, run(disk_->resource(), service_, 3, &setting, 9).result);
    ScsiCommandBlock block = cdbBlock({0x12, 0, 0, 0, 96, 0}, SCSI_DIRECTION_IN);
    block.resultFlags = 0xF0;
    std::vector<uint8_t> data(96);
    Outcome outcome = command(block, data.data(), 96);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0, block.status);
    EXPECT_EQ(0, block.senseLength);
    EXPECT_EQ(SCSI_RESULT_DURATION_VALID, block.resultFlags);
    EXPECT_EQ(0, block.conditionFlags);
    EXPECT_EQ("VT      ", std::string(data.begin() + 8, data.begin() + 16));
    EXPECT_EQ(5000u, kernel().observed().sgTimeoutMs);
    EXPECT_EQ("V001", inquiryRevision());
}

TEST_F(ScsiPluginTest, CheckConditionReturnsStatusAndSense) {
    ScsiCommandBlock block = cdbBlock({0xEE, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    Outcome outcome = command(block);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(2, block.status);
    EXPECT_EQ(18, block.senseLength);
    EXPECT_EQ(0x70, block.sense[0]);
    EXPECT_EQ(0x05, block.sense[2] & 0x0F);
    EXPECT_EQ(0x20, block.sense[12]);
}

TEST_F(ScsiPluginTest, OneByteAndShortTransfers) {
    ScsiCommandBlock block = cdbBlock({0x12, 0, 0, 0, 1, 0}, SCSI_DIRECTION_IN);
    uint8_t data[2] = {0xAA, 0xAA};
    ASSERT_EQ(1, command(block, data, 1).result);
    EXPECT_EQ(0x00, data[0]);  // peripheral device type: disk
    EXPECT_EQ(0xAA, data[1]) << "exactly one byte reaches the caller";
    EXPECT_EQ(0, block.conditionFlags);
    EXPECT_EQ(2u, kernel().observed().sgDataLength);

    block = cdbBlock({0x12, 0, 0, 0, 36, 0}, SCSI_DIRECTION_IN);
    std::vector<uint8_t> more(200);
    ASSERT_EQ(1, command(block, more.data(), 200).result);
    EXPECT_EQ(0, block.status);
    EXPECT_EQ(SCSI_CONDITION_UNDERRUN, block.conditionFlags);
}

// The drive's second port (sdc) is an initiator of its own: the new microcode
// is announced there once, with UNIT ATTENTION as the device's answer.
TEST_F(ScsiPluginTest, FirmwareDownloadWithWriteBuffer) {
    addNodeOf(drive_, "/dev/sdc");
    auto& secondPort = publish("/dev/sdc");
    drainEvents();
    const CvUID secondService = serviceOf(secondPort.resource(), SCSI_DEVICE_SERVICE_TYPE);
    ASSERT_NE(CV_UID_NONE, secondService);
    std::vector<uint8_t> image = simdrive::test::makeImage("VT SAS-900", "V002", 50000);
    const uint32_t segment = 16384;
    for (uint32_t offset = 0; offset < image.size(); offset += segment) {
        uint32_t length = std::min<uint32_t>(segment, static_cast<uint32_t>(image.size()) - offset);
        ScsiCommandBlock block = cdbBlock({0x3B, 0x07, 0, static_cast<uint8_t>(offset >> 16),
                                           static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                                           static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
                                           static_cast<uint8_t>(length), 0},
                                          SCSI_DIRECTION_OUT);
        Outcome outcome = command(block, image.data() + offset, length);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        ASSERT_EQ(0, block.status) << "segment at " << offset << " sense key " << (block.sense[2] & 0x0F);
    }
    EXPECT_EQ("V002", drive_->firmware().revision);
    // The new microcode is announced once to this path, then INQUIRY answers.
    ScsiCommandBlock tur = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    ASSERT_EQ(1, command(tur).result);
    EXPECT_EQ(0, tur.status);
    EXPECT_EQ("V002", inquiryRevision());

    tur = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    ASSERT_EQ(1, command(tur, nullptr, 0, secondPort.resource(), secondService).result);
    EXPECT_EQ(2, tur.status);
    EXPECT_EQ(0x06, tur.sense[2] & 0x0F);
    EXPECT_EQ(0x3F, tur.sense[12]);
    EXPECT_EQ(0x01, tur.sense[13]) << "MICROCODE HAS BEEN CHANGED";
    tur = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    ASSERT_EQ(1, command(tur, nullptr, 0, secondPort.resource(), secondService).result);
    EXPECT_EQ(0, tur.status);
}

TEST_F(ScsiPluginTest, RefusalsCarryTheirMessages) {
    uint8_t raw[600] = {};
    Outcome outcome = run(disk_->resource(), service_, 6, raw, 556);
    EXPECT_STREQ("Parameter buffer 0 is not exactly 557 bytes long for 'do scsi command': 556", outcome.error.message);

    auto refused = [&](ScsiCommandBlock block, int code, const char* message) {
        Outcome result = command(block);
        EXPECT_EQ(0, result.result);
        EXPECT_EQ(code, result.error.code) << message;
        EXPECT_STREQ(message, result.error.message);
        EXPECT_EQ(SCSI_STATUS_NOT_DELIVERED, block.status);
    };
    ScsiCommandBlock block = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    block.cdbLength = 17;
    refused(block, CV_ERROR_INVALID_INPUT, "CDB's greater than 16 bytes are not supported in windows");
    block = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_BIDIRECTIONAL);
    refused(block, CV_ERROR_INVALID_INPUT, "bi-directional commands are not supported in windows");
    block.options = SCSI_OPTION_LOGICAL_UNIT;
    refused(block, CV_ERROR_INVALID_INPUT, "specifying the lun is not supported without MPT");
    block.options = SCSI_OPTION_TASK_ATTRIBUTE;
    refused(block, CV_ERROR_INVALID_INPUT, "task attributes are not supported without MPT");

    struct Case {
        uint8_t function;
        uint32_t length;
        int code;
        const char* message;
    };
    for (const Case& c : {Case{7, 0, CV_ERROR_NOT_SUPPORTED, "Resets are not supported on Windows yet"},
                          Case{9, 18, CV_ERROR_FAILED, "Task Management is not supported "},
                          Case{10, 5, CV_ERROR_NOT_SUPPORTED, "Sending primitives is not supported without MPT"},
                          Case{13, 0, CV_ERROR_NOT_SUPPORTED, "Tag Ids are not supported in Windows"},
                          Case{14, 0, CV_ERROR_FAILED, "Task Management Function fetching not supported"},
                          Case{15, 0, CV_ERROR_INVALID_INPUT, "Unsupported function code: 15"}}) {
        outcome = run(disk_->resource(), service_, c.function, c.length ? raw : nullptr, c.length);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(c.code, outcome.error.code) << c.message;
        EXPECT_STREQ(c.message, outcome.error.message);
    }
    DeviceSetting setting{0, 1};
    outcome = run(disk_->resource(), service_, 2, &setting, 9);
    EXPECT_STREQ("Unsupported SCSI setting to get: 1", outcome.error.message);
    outcome = run(disk_->resource(), service_, 3, &setting, 9);
    EXPECT_STREQ("Unsupported SCSI setting to set: 1", outcome.error.message);
    int32_t index = 33;
    ScsiAbility ability{};
    outcome = run(disk_->resource(), service_, 5, &index, 4, &ability, sizeof ability);
    EXPECT_STREQ("Ability index out of bounds: 33 (max is 33)", outcome.error.message);
}

// A WRITE BUFFER segment that the kernel aborted after its time-out reads as
// status 0 from SG_IO; it never reached the drive and must not count as sent.
TEST_F(ScsiPluginTest, ATimedOutSegmentIsAFailedCall) {
    std::vector<uint8_t> segment(4096, 0x5A);
    for (auto report : {simdrive::SimKernel::TimeoutReport::OldKernel, simdrive::SimKernel::TimeoutReport::NewKernel}) {
        kernel().timeOutNext("/dev/sdb", 1, report);
        ScsiCommandBlock block = cdbBlock({0x3B, 0x07, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, SCSI_DIRECTION_OUT);
        Outcome outcome = command(block, segment.data(), 4096);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
        EXPECT_STREQ("SCSI system aborted passthru: 110", outcome.error.message);  // ETIMEDOUT
        EXPECT_EQ(SCSI_STATUS_NOT_DELIVERED, block.status);
        EXPECT_EQ(0, block.senseLength);
    }
    EXPECT_EQ("V001", inquiryRevision()) << "the drive answers again";
}

// Behind a bridge whose queue takes 120 KiB, the largest transfers shrink to
// that when the disk is opened again, and a larger request fails in the kernel.
TEST_F(ScsiPluginTest, LargestTransferFollowsTheQueueLimit) {
    auto transfer = [&](int32_t index) {
        ScsiAbility ability{};
        EXPECT_EQ(1, run(disk_->resource(), service_, 5, &index, 4, &ability, sizeof ability).result);
        return ability.maxTransferBytes;
    };
    kernel().setQueueLimit("/dev/sdb", 120 * 1024 + 100);
    disk_->depart();
    EXPECT_EQ(0x2000000u, transfer(2)) << "no disk, no limit to apply";
    disk_->arrive("/dev/sdb");
    EXPECT_EQ(0u, transfer(0));
    EXPECT_EQ(120u * 1024, transfer(1)) << "whole blocks";
    EXPECT_EQ(120u * 1024, transfer(2));
    EXPECT_EQ(0x8000u, transfer(32));

    std::vector<uint8_t> segment(128 * 1024);
    ScsiCommandBlock block = cdbBlock({0x3B, 0x07, 0, 0, 0, 0, 0x02, 0x00, 0x00, 0}, SCSI_DIRECTION_OUT);
    Outcome outcome = command(block, segment.data(), static_cast<uint32_t>(segment.size()));
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("SCSI system aborted passthru: 5", outcome.error.message);  // EIO
}

TEST_F(ScsiPluginTest, CapabilitiesTopologyAndAbilities) {
    uint32_t capabilities = 0;
    ASSERT_EQ(1, run(disk_->resource(), service_, 0, &capabilities, 4).result);
    EXPECT_EQ(SCSI_CAPABILITY_TOPOLOGY | SCSI_CAPABILITY_SAS_ADDRESS, capabilities);
    ScsiTopology topology{};
    ASSERT_EQ(1, run(disk_->resource(), service_, 11, &topology, sizeof topology).result);
    EXPECT_EQ(0xFFFFFFFFu, topology.hostPortDevice);
    uint16_t support = 0xFFFF;
    ASSERT_EQ(1, run(disk_->resource(), service_, 8, &support, 2).result);
    EXPECT_EQ(0, support);
    int32_t count = 0;
    ASSERT_EQ(1, run(disk_->resource(), service_, 4, &count, 4).result);
    EXPECT_EQ(33, count);
    struct Expected {
        int32_t index;
        uint8_t kind, opcode;
        uint32_t transfer;
    };
    for (const Expected& e : {Expected{0, 0, 0, 0}, Expected{2, 2, 0, 0x2000000}, Expected{3, 1, 0x12, 0x8000},
                              Expected{20, 1, 0x03, 0x8000}, Expected{29, 2, 0xA4, 0x8000},
                              Expected{32, 2, 0x9F, 0x8000}}) {
        ScsiAbility ability{};
        int32_t index = e.index;
        ASSERT_EQ(1, run(disk_->resource(), service_, 5, &index, 4, &ability, sizeof ability).result);
        EXPECT_EQ(e.kind, ability.kind) << e.index;
        EXPECT_EQ(e.opcode, ability.operationCode) << e.index;
        EXPECT_EQ(e.transfer, ability.maxTransferBytes) << e.index;
        EXPECT_EQ(127u, ability.value40);
    }
}

TEST_F(ScsiPluginTest, UnavailableWhileAwayAndWorkingAfterReturn) {
    disk_->depart();
    ScsiCommandBlock block = cdbBlock({0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    Outcome outcome = command(block);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("Device is unavailable", outcome.error.message);
    EXPECT_EQ(SCSI_STATUS_NOT_DELIVERED, block.status);

    disk_->arrive("/dev/sdx");
    EXPECT_TRUE(has(CV_LOG_ERROR, "Unable to re-open SCSI unit path '/dev/sdx'"));
    disk_->arrive("/dev/sdb");
    outcome = command(block);
    EXPECT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0, block.status);

    drive_->setGone(true);
    outcome = command(block);
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("SCSI system aborted passthru: 6", outcome.error.message);
}

}  // namespace
