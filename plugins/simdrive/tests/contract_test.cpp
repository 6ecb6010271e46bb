// The device service contracts as the simulated drives serve them: answers to
// the query functions and every refusal with its code and exact message.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device_unit.h"
#include "sim_farm.h"
#include "simdrive/drive.h"
#include "test_farm.h"

namespace simdrive_plugin_test {
namespace {

struct Refusal {
    int code;
    std::string message;
};

class SimDriveContractTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(farm.configured()) << farm.configureError().message; }

    // Executes and expects a refusal; returns it for the caller to compare.
    Refusal refused(const std::string& resource, CvCommand cmd) {
        CvError error{};
        EXPECT_EQ(0, farm.execute(resource, cmd, error)) << "function " << int(cmd.function);
        return {error.code, error.message};
    }
    Refusal refusedFunction(const std::string& resource, uint8_t function, uint32_t length) {
        std::vector<uint8_t> block(length + 1);
        return refused(resource, command(function, block.data(), length));
    }
    template <typename T>
    T query(const std::string& resource, uint8_t function, T value = {}) {
        CvCommand cmd = command(function, &value, sizeof value);
        CvError error{};
        EXPECT_EQ(1, farm.execute(resource, cmd, error)) << error.message;
        return value;
    }
    template <typename Ability>
    Ability ability(const std::string& resource, int32_t index) {
        Ability record{};
        CvCommand cmd = command(DEVICE_FUNCTION_GET_ABILITY, &index, sizeof index, &record, sizeof record);
        CvError error{};
        EXPECT_EQ(1, farm.execute(resource, cmd, error)) << error.message;
        return record;
    }

    SimFarm farm{kFarmSettings};
};

void expectRefusal(const Refusal& refusal, int code, const std::string& message) {
    EXPECT_EQ(refusal.code, code) << message;
    EXPECT_EQ(refusal.message, message);
}

TEST_F(SimDriveContractTest, WrongParameterBlockLengthsAreRefusedPerFunction) {
    struct Case {
        const char* resource;
        uint8_t function;
        uint32_t length;
        const char* message;
    };
    const Case cases[] = {
        {"simdrive:ata0", 0, 5, "Parameter buffer 0 is not exactly 4 bytes long for 'get capabilities': 5"},
        {"simdrive:ata0", 1, 3, "Parameter buffer 0 is not exactly 4 bytes long for 'get settings support': 3"},
        {"simdrive:ata0", 2, 8, "Parameter buffer 0 is not exactly 9 bytes long for 'get setting value': 8"},
        {"simdrive:ata0", 3, 10, "Parameter buffer 0 is not exactly 9 bytes long for 'set setting value': 10"},
        {"simdrive:ata0", 4, 0, "Parameter buffer 0 is not exactly 4 bytes long for 'get ability count': 0"},
        {"simdrive:ata0", 5, 8, "Parameter buffer 0 is not exactly 4 bytes long for 'get ability': 8"},
        {"simdrive:ata0", 6, 50, "Parameter buffer 0 is not exactly 51 bytes long for 'do ata command': 50"},
        {"simdrive:ata0", 6, 52, "Parameter buffer 0 is not exactly 51 bytes long for 'do ata command': 52"},
        {"simdrive:sas0", 0, 2, "Parameter buffer 0 is not exactly 4 bytes long for 'get capabilities': 2"},
        {"simdrive:sas0", 6, 556, "Parameter buffer 0 is not exactly 557 bytes long for 'do scsi command': 556"},
        {"simdrive:sas0", 8, 4, "Parameter buffer 0 is not exactly 2 bytes long for 'get task management support': 4"},
        {"simdrive:sas0", 11, 23, "Parameter buffer 0 is not exactly 24 bytes long for 'get topology': 23"},
        {"simdrive:sas0:2", 12, 0, "Parameter buffer 0 is not exactly 8 bytes long for 'get sas address': 0"},
        {"simdrive:nvme0", 1, 103, "Parameter buffer 0 is not exactly 104 bytes long for 'admin command': 103"},
    };
    for (const Case& c : cases) {
        expectRefusal(refusedFunction(c.resource, c.function, c.length), CV_ERROR_INVALID_INPUT, c.message);
    }
}

TEST_F(SimDriveContractTest, AbilityRequestsAreCheckedBeforeTheIndexIsUsed) {
    int32_t index = 0;
    AtaAbility ata{};
    expectRefusal(refused("simdrive:ata0", command(5, &index, 4, &ata, 56)), CV_ERROR_INVALID_INPUT,
                  "Parameter buffer 1 is not exactly 60 bytes long for 'get ability': 56");
    // A null buffer with a length never reaches the service.
    expectRefusal(refused("simdrive:ata0", command(5, &index, 4, nullptr, 60)), CV_ERROR_INVALID_INPUT,
                  "Data buffer 1 is null but has a length of 60 bytes");
    for (int32_t bad : {6, -1}) {
        expectRefusal(refused("simdrive:ata0", command(5, &bad, 4, &ata, 60)), CV_ERROR_INVALID_INPUT,
                      "Ability index out of bounds: " + std::to_string(bad) + " (max is 6)");
    }
    ScsiAbility scsi{};
    int32_t past = 33;
    expectRefusal(refused("simdrive:sas0", command(5, &past, 4, &scsi, 56)), CV_ERROR_INVALID_INPUT,
                  "Ability index out of bounds: 33 (max is 33)");
}

TEST_F(SimDriveContractTest, UnsupportedFunctionCodesAreRefused) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"simdrive:ata0", 7}, {"simdrive:ata0", 8}, {"simdrive:ata0", 200},
        {"simdrive:sas0", 15}, {"simdrive:nvme0", 0}, {"simdrive:nvme0", 6},
    };
    for (auto [resource, function] : cases) {
        expectRefusal(refusedFunction(resource, function, 4), CV_ERROR_INVALID_INPUT,
                      "Unsupported function code: " + std::to_string(function));
    }
}

TEST_F(SimDriveContractTest, QueriesDescribeThePassThroughServices) {
    EXPECT_EQ(query<uint32_t>("simdrive:ata0", 0), 0u);
    EXPECT_EQ(query<uint32_t>("simdrive:sas0", 0), 0u);
    auto ataSupport = query<DeviceSettingsSupport>("simdrive:ata0", 1);
    EXPECT_EQ(ataSupport.readable, 0x0021);
    EXPECT_EQ(ataSupport.writable, 0x0001);
    auto scsiSupport = query<DeviceSettingsSupport>("simdrive:sas0", 1);
    EXPECT_EQ(scsiSupport.readable, 0x0001);
    EXPECT_EQ(scsiSupport.writable, 0x0001);

    EXPECT_EQ(query<int32_t>("simdrive:ata0", 4), 6);
    auto pioIn = ability<AtaAbility>("simdrive:ata0", 2);
    EXPECT_EQ(pioIn.identifier, 2);
    EXPECT_EQ(pioIn.maxTransferBytes, 0x20000u);
    EXPECT_EQ(pioIn.maxLba, 0xFFFFFFFull);
    EXPECT_EQ(pioIn.writableRegisters, 0xAAB);
    auto pioIn48 = ability<AtaAbility>("simdrive:ata0", 4);
    EXPECT_EQ(pioIn48.maxLba, 0xFFFFFFFFFFFFull);
    EXPECT_EQ(pioIn48.returnedRegisters, 0xFFF);

    EXPECT_EQ(query<int32_t>("simdrive:sas0", 4), 33);
    auto inquiry = ability<ScsiAbility>("simdrive:sas0", 3);
    EXPECT_EQ(inquiry.kind, SCSI_DIRECTION_IN);
    EXPECT_EQ(inquiry.operationCode, 0x12);
    EXPECT_EQ(inquiry.maxTransferBytes, 0x8000u);
    auto last = ability<ScsiAbility>("simdrive:sas0", 32);
    EXPECT_EQ(last.kind, SCSI_DIRECTION_OUT);
    EXPECT_EQ(last.operationCode, 0x9F);
}

TEST_F(SimDriveContractTest, SettingsReadWriteAndRefuseUnknownIdentifiers) {
    DeviceSetting timeout{0, DEVICE_SETTING_TIMEOUT};
    EXPECT_EQ(query("simdrive:ata0", 2, timeout).value, 60000000000ull);
    timeout.value = 5500000000ull;
    query("simdrive:ata0", 3, timeout);
    EXPECT_EQ(query("simdrive:ata0", 2, DeviceSetting{0, 0}).value, 5500000000ull);
    EXPECT_EQ(query("simdrive:ata0", 2, DeviceSetting{0, 5}).value, 1u);

    DeviceSetting five{1, 5};
    expectRefusal(refused("simdrive:ata0", command(3, &five, 9)), CV_ERROR_INVALID_INPUT,
                  "Unsupported ATA setting to set: 5");
    DeviceSetting one{0, 1};
    expectRefusal(refused("simdrive:ata0", command(2, &one, 9)), CV_ERROR_INVALID_INPUT,
                  "Unsupported ATA setting to get: 1");
    expectRefusal(refused("simdrive:sas0", command(2, &five, 9)), CV_ERROR_INVALID_INPUT,
                  "Unsupported SCSI setting to get: 5");
    expectRefusal(refused("simdrive:sas0", command(3, &one, 9)), CV_ERROR_INVALID_INPUT,
                  "Unsupported SCSI setting to set: 1");
}

TEST_F(SimDriveContractTest, AtaBlocksTheServerCannotCarryAreRefused) {
    AtaCommandBlock block = ataBlock(ATA_PROTOCOL_SOFT_RESET, 0);
    expectRefusal(refused("simdrive:ata0", command(6, &block, 51)), CV_ERROR_INVALID_INPUT, "Protocol not supported: 50");
    block.protocol = 7;
    expectRefusal(refused("simdrive:ata0", command(6, &block, 51)), CV_ERROR_INVALID_INPUT, "Protocol not supported: 7");
    block = ataBlock(ATA_PROTOCOL_NON_DATA, 0xE5);
    block.options = ATA_OPTION_OFFLINE;
    expectRefusal(refused("simdrive:ata0", command(6, &block, 51)), CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    block = ataBlock(ATA_PROTOCOL_PIO_IN, 0xEC);
    expectRefusal(refused("simdrive:ata0", command(6, &block, 51)), CV_ERROR_INVALID_INPUT, "data buffer is null");
    uint8_t byte = 0;
    expectRefusal(refused("simdrive:ata0", command(6, &block, 51, &byte, 0)), CV_ERROR_INVALID_INPUT,
                  "data buffer length is invalid (value is 0)");
}

TEST_F(SimDriveContractTest, ScsiBlocksTheServerCannotCarryKeepTheUndeliveredStatus) {
    struct Case {
        uint8_t options;
        uint8_t cdbLength;
        uint8_t direction;
        const char* message;
    };
    const Case cases[] = {
        {SCSI_OPTION_LOGICAL_UNIT, 6, 0, "specifying the lun is not supported without MPT"},
        {SCSI_OPTION_TASK_ATTRIBUTE, 6, 0, "task attributes are not supported without MPT"},
        {0, 17, 0, "CDB too large: 17"},
        {0, 6, 3, "bi-directional commands are not supported"},
    };
    for (const Case& c : cases) {
        ScsiCommandBlock block = scsiBlock({0x00, 0, 0, 0, 0, 0}, c.direction);
        block.options = c.options;
        block.cdbLength = c.cdbLength;
        expectRefusal(refused("simdrive:sas0", command(6, &block, sizeof block)), CV_ERROR_INVALID_INPUT, c.message);
        EXPECT_EQ(block.status, SCSI_STATUS_NOT_DELIVERED);
    }
}

TEST_F(SimDriveContractTest, ScsiAdapterFunctionsAreRefusedWithTheirOwnMessages) {
    expectRefusal(refusedFunction("simdrive:sas0", 7, 0), CV_ERROR_NOT_SUPPORTED, "Resets are not supported on Windows yet");
    expectRefusal(refusedFunction("simdrive:sas0", 9, 18), CV_ERROR_FAILED, "Task Management is not supported ");
    expectRefusal(refusedFunction("simdrive:sas0", 10, 5), CV_ERROR_NOT_SUPPORTED,
                  "Sending primitives is not supported without MPT");
    expectRefusal(refusedFunction("simdrive:sas0", 11, 24), CV_ERROR_NOT_SUPPORTED,
                  "Topology information not available for this unit");
    expectRefusal(refusedFunction("simdrive:sas0", 12, 8), CV_ERROR_NOT_SUPPORTED, "SAS address not available for this unit");
    expectRefusal(refusedFunction("simdrive:sas0", 13, 0), CV_ERROR_NOT_SUPPORTED, "Tag Ids are not supported in Windows");
    expectRefusal(refusedFunction("simdrive:sas0", 14, 0), CV_ERROR_FAILED, "Task Management Function fetching not supported");
    EXPECT_EQ(query<uint16_t>("simdrive:sas0", 8, 0xFFFF), 0);
}

TEST_F(SimDriveContractTest, SubmitAndAbortAreRefused) {
    for (const char* resource : {"simdrive:ata0", "simdrive:sas0", "simdrive:nvme0"}) {
        uint32_t capabilities = 0;
        CvCommand cmd = command(0, &capabilities, sizeof capabilities);
        cmd.tag = 7;
        CvError error{};
        EXPECT_EQ(0, farm.submit(resource, cmd, error));
        EXPECT_EQ(error.code, CV_ERROR_FAILED);
        EXPECT_STREQ(error.message, "Submitting commands not supported yet");
        EXPECT_EQ(0, farm.abort(resource, 7, error));
        EXPECT_EQ(error.code, CV_ERROR_FAILED);
        EXPECT_STREQ(error.message, "Aborting commands not supported yet");
    }
}

// What the core refuses before a service sees it, the services refuse too
// when a caller reaches them directly.
TEST(SimDriveServiceWithoutCore, NullDataBuffersAreRefused) {
    simdrive::DriveDescription description;
    simdrive::DescriptionError problem;
    ASSERT_TRUE(simdrive::parseDriveDescriptionText("kind=ata; model=VT-1; serial=S1; revision=R1", description, problem));
    std::string error;
    std::shared_ptr<simdrive::SimDrive> drive = simdrive::createDrive(description, nullptr, error);
    ASSERT_TRUE(drive) << error;
    cvpl_simdrive::DeviceUnit unit(drive, 0);
    CvError failure{};

    int32_t index = 0;
    CvCommand cmd = command(DEVICE_FUNCTION_GET_ABILITY, &index, 4, nullptr, ATA_ABILITY_SIZE);
    EXPECT_EQ(0, cvpl_simdrive::executeOnUnit(unit, &cmd, &failure));
    EXPECT_STREQ(failure.message, "Null data buffer, cannot copy ability into it");

    AtaCommandBlock block = ataBlock(ATA_PROTOCOL_PIO_IN, 0xEC);
    cmd = command(DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block, nullptr, 512);
    EXPECT_EQ(0, cvpl_simdrive::executeOnUnit(unit, &cmd, &failure));
    EXPECT_EQ(failure.code, CV_ERROR_INVALID_INPUT);
    EXPECT_STREQ(failure.message, "Null data buffer");
}

}  // namespace
}  // namespace simdrive_plugin_test
