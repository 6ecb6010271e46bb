// cvpl-scsi on a disk found behind an MPT adapter: commands with a task
// attribute or a logical unit, task management and SAS primitives through the
// host-port library (the stand-in, whose device is a simulated drive).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/scsi_device.h"
#include "passthrough_fixture.h"
#include "hostport/hostport_api.h"
#include "sim_hostport.h"
#include "sim_test_support.h"

namespace {

using passthrough_test::PassThroughTest;
namespace hostport = simdrive::hostport;

class ScsiHostPortTest : public PassThroughTest {
protected:
    void SetUp() override {
        PassThroughTest::SetUp();
        hostport::resetPorts();
        simdrive::ScsiDrive* drive = addDrive<simdrive::ScsiDrive>("/dev/sdc", simdrive::test::kScsiVt);
        hostport::PortDevice device;
        device.entry = {5, 0, 0, 3};
        device.serial = "SAS0001";
        device.execute = [drive](const simdrive::ScsiRequest& request, simdrive::ScsiReply& reply) {
            return drive->execute(request, reply);
        };
        hostport::addDevice(0, device);

        DriveInfoBlock block{};
        block.flags = DRIVE_INFO_HOST_PORT_VALID | DRIVE_INFO_SAS_ADDRESS_VALID;
        block.sasAddress = 0x502A002123456789ull;
        block.hostPort.driveNumber = 2;
        std::memcpy(block.hostPort.deviceEntry, device.entry.data(), sizeof block.hostPort.deviceEntry);
        auto record = hostport::portRecord(0);
        std::memcpy(block.hostPort.portRecord, record.data(), record.size());
        disk_ = &publish("/dev/sdc", block);
        loadPlugin("cvpl-scsi");
        service_ = serviceOf(disk_->resource(), SCSI_DEVICE_SERVICE_TYPE);
        ASSERT_NE(CV_UID_NONE, service_);
    }

    void TearDown() override {
        PassThroughTest::TearDown();
        hostport::resetPorts();  // its device refers to a drive that is gone now
    }

    static ScsiCommandBlock inquiry(uint8_t allocation, uint8_t options) {
        ScsiCommandBlock block{};
        block.direction = SCSI_DIRECTION_IN;
        block.options = options;
        block.cdbLength = 6;
        uint8_t cdb[6] = {0x12, 0, 0, 0, allocation, 0};
        std::memcpy(block.cdb, cdb, sizeof cdb);
        return block;
    }

    Outcome call(uint8_t function, void* block, uint32_t length, void* data = nullptr, uint32_t dataLength = 0) {
        return run(disk_->resource(), service_, function, block, length, data, dataLength);
    }

    passthrough_test::FakeDisk* disk_ = nullptr;
    CvUID service_ = CV_UID_NONE;
};

TEST_F(ScsiHostPortTest, CapabilitiesTopologyAndSasAddress) {
    uint32_t capabilities = 0;
    ASSERT_EQ(1, call(0, &capabilities, 4).result);
    EXPECT_EQ(0x260u | 0x80u | 0x100u, capabilities);
    ScsiTopology topology{};
    ASSERT_EQ(1, call(11, &topology, sizeof topology).result);
    EXPECT_EQ(2u, topology.word0);
    EXPECT_EQ(5u, topology.word1);
    EXPECT_EQ(0u, topology.word2);
    EXPECT_EQ(0, topology.word3);
    EXPECT_EQ(3u, topology.hostPortDevice);
    uint64_t sas = 0;
    ASSERT_EQ(1, call(12, &sas, 8).result);
    EXPECT_EQ(0x502A002123456789ull, sas);
    uint16_t support = 0xFFFF;
    ASSERT_EQ(1, call(8, &support, 2).result);
    EXPECT_EQ(0, support);
}

TEST_F(ScsiHostPortTest, TaskAttributeCommandGoesThroughTheHostPort) {
    DeviceSetting setting{7000000000ull, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, call(3, &setting, 9).result);
    ScsiCommandBlock block = inquiry(96, SCSI_OPTION_TASK_ATTRIBUTE);
    block.taskAttribute = 2;
    std::vector<uint8_t> data(96);
    uint32_t sgBefore = kernel().observed().sgRequests;
    Outcome outcome = call(6, &block, sizeof block, data.data(), 96);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(sgBefore, kernel().observed().sgRequests) << "not through SG_IO";
    EXPECT_EQ(0, block.status);
    EXPECT_NE(0, block.taskTag);
    EXPECT_EQ(0, block.resultFlags) << "the host-port path records no duration";
    EXPECT_EQ(0, block.conditionFlags);
    EXPECT_EQ("VT      ", std::string(data.begin() + 8, data.begin() + 16));
    hostport::Observed seen = hostport::observed();
    EXPECT_EQ(HOSTPORT_CONTROL_READ | 2u << 8, seen.control);
    EXPECT_EQ(7u, seen.timeoutSeconds);
    EXPECT_EQ(0, seen.request[0]);  // device word 1
    EXPECT_EQ(5, seen.request[1]);  // device word 0
    EXPECT_EQ(6, seen.request[4]);
    EXPECT_EQ(0x12, seen.request[24]);
    EXPECT_EQ(96, seen.request[40]);

    // Bidirectional with a task attribute goes without data.
    block = inquiry(0, SCSI_OPTION_TASK_ATTRIBUTE);
    block.direction = SCSI_DIRECTION_BIDIRECTIONAL;
    block.cdb[0] = 0x00;
    ASSERT_EQ(1, call(6, &block, sizeof block).result);
    EXPECT_EQ(0u, hostport::observed().control);
}

TEST_F(ScsiHostPortTest, LogicalUnitUnderrunAndFailures) {
    ScsiCommandBlock block = inquiry(36, SCSI_OPTION_LOGICAL_UNIT);
    block.logicalUnit = 0x0100;  // SAM single-level LUN 1
    std::vector<uint8_t> data(96);
    ASSERT_EQ(1, call(6, &block, sizeof block, data.data(), 96).result);
    EXPECT_EQ(2, block.status);
    EXPECT_EQ(18, block.senseLength);
    EXPECT_EQ(0x25, block.sense[12]);
    EXPECT_EQ(1, hostport::observed().request[13]);

    block = inquiry(36, SCSI_OPTION_LOGICAL_UNIT);
    ASSERT_EQ(1, call(6, &block, sizeof block, data.data(), 96).result);
    EXPECT_EQ(0, block.status);
    EXPECT_EQ(SCSI_CONDITION_UNDERRUN, block.conditionFlags);

    block.cdbLength = 17;
    Outcome outcome = call(6, &block, sizeof block, data.data(), 96);
    EXPECT_STREQ("CDB too large: 17", outcome.error.message);

    hostport::setCallsFail(true);
    block = inquiry(36, SCSI_OPTION_LOGICAL_UNIT);
    outcome = call(6, &block, sizeof block, data.data(), 96);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("mpt scsi io call failed: 5 Input/output error", outcome.error.message);
}

TEST_F(ScsiHostPortTest, TaskManagement) {
    hostport::setTaskResponse(5);
    ScsiTaskManagementBlock block{};
    block.function = SCSI_TM_TARGET_RESET_FLAGGED;
    block.taskTag = 77;
    Outcome outcome = call(9, &block, sizeof block);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(SCSI_TM_RESULT_RESPONSE_VALID, block.resultFlags);
    EXPECT_EQ(5u, block.responseCode);
    hostport::Observed seen = hostport::observed();
    EXPECT_EQ(3u, seen.taskType);
    EXPECT_EQ(8u, seen.taskFlags);
    EXPECT_EQ(77u, seen.taskTag);
    EXPECT_EQ(5u, seen.taskTarget);

    struct Mapping {
        uint16_t function;
        uint32_t type, flags;
    };
    for (const Mapping& m : {Mapping{0x0001, 1, 0}, Mapping{0x0004, 6, 0}, Mapping{0x0081, 9, 0},
                             Mapping{0x0100, 3, 0}, Mapping{0x0200, 4, 0}}) {
        block.function = m.function;
        ASSERT_EQ(1, call(9, &block, sizeof block).result);
        EXPECT_EQ(m.type, hostport::observed().taskType) << m.function;
        EXPECT_EQ(m.flags, hostport::observed().taskFlags) << m.function;
    }

    block.function = 0x0020;
    outcome = call(9, &block, sizeof block);
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, outcome.error.code);
    EXPECT_STREQ("Task management function not supported: 32", outcome.error.message);
    outcome = call(9, &block, 17);
    EXPECT_STREQ("parameter buffer 0 in incorrect", outcome.error.message);

    hostport::setCallsFail(true);
    block.function = SCSI_TM_ABORT_TASK;
    outcome = call(9, &block, sizeof block);
    EXPECT_STREQ("Call to lsiScsiTaskManagement failed, return value = 0, response code = 5", outcome.error.message);

    disk_->depart();
    outcome = call(9, &block, sizeof block);
    EXPECT_STREQ("device is unavailable", outcome.error.message);
}

TEST_F(ScsiHostPortTest, SasPrimitives) {
    struct Mode {
        uint8_t given;
        uint32_t sent;
    };
    for (const Mode& m : {Mode{0, 8}, Mode{1, 2}, Mode{2, 1}, Mode{3, 8}, Mode{200, 8}}) {
        SasPrimitiveBlock block{0xABCD, m.given};
        ASSERT_EQ(1, call(10, &block, sizeof block).result);
        EXPECT_EQ(m.sent, hostport::observed().primitiveMode) << int(m.given);
        EXPECT_EQ(0xABCDu, hostport::observed().primitive);
        EXPECT_EQ(3, hostport::observed().primitivePhy);
    }
    SasPrimitiveBlock block{};
    Outcome outcome = call(10, &block, 4);
    EXPECT_STREQ("parameter buffer 0 in incorrect", outcome.error.message);
    hostport::setCallsFail(true);
    outcome = call(10, &block, sizeof block);
    EXPECT_STREQ("call to lsiSendSasPrimitive() failed", outcome.error.message);
}

}  // namespace
