// The common validation of device service commands and its exact messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/contract_check.h"

namespace {

struct Command {
    CvCommand command{};
    std::vector<uint8_t> block, data;

    Command(uint8_t function, std::size_t blockLength, std::size_t dataLength = 0) : block(blockLength), data(dataLength) {
        command.function = function;
        command.tag = 0xFFFFFFFF;
        command.buffers[0] = blockLength ? block.data() : nullptr;
        command.bufferLengths[0] = static_cast<uint32_t>(blockLength);
        command.buffers[1] = dataLength ? data.data() : nullptr;
        command.bufferLengths[1] = static_cast<uint32_t>(dataLength);
    }
};

class ContractCheck : public ::testing::Test {
protected:
    // The message of a refusal, or "" when the command passes.
    std::string check(int32_t kind, Command& c, int32_t abilities = 6) {
        DeviceContractRules rules;
        DeviceContract_InitRules(&rules, kind);
        return run(rules, c, abilities);
    }
    std::string run(const DeviceContractRules& rules, Command& c, int32_t abilities = 6) {
        std::strcpy(error.message, "stale");
        error.code = 9;
        if (DeviceContract_CheckCommand(&rules, &c.command, abilities, &error)) {
            EXPECT_EQ(error.code, 0);
            EXPECT_STREQ(error.message, "");
            return "";
        }
        EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
        return error.message;
    }
    CvError error{};
};

TEST_F(ContractCheck, UnsupportedFunctionCodes) {
    Command ata7(ATA_DEVICE_FUNCTION_READ_TASKFILE, ATA_TASKFILE_BLOCK_SIZE);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, ata7), "Unsupported function code: 7");
    Command high(200, 4);
    EXPECT_EQ(check(DEVICE_CONTRACT_SCSI, high), "Unsupported function code: 200");
    Command nvme6(DEVICE_FUNCTION_DO_COMMAND, 51);
    EXPECT_EQ(check(DEVICE_CONTRACT_NVME, nvme6), "Unsupported function code: 6");
    // The function code comes before the length.
    Command wrongLength(15, 3);
    EXPECT_EQ(check(DEVICE_CONTRACT_SCSI, wrongLength), "Unsupported function code: 15");
}

TEST_F(ContractCheck, EveryFunctionNamesItsExactBufferLength) {
    struct Case {
        int32_t kind;
        uint8_t code;
        int expected;
        const char* name;
    };
    const Case cases[] = {
        {DEVICE_CONTRACT_ATA, 0, 4, "get capabilities"},
        {DEVICE_CONTRACT_ATA, 1, 4, "get settings support"},
        {DEVICE_CONTRACT_ATA, 2, 9, "get setting value"},
        {DEVICE_CONTRACT_ATA, 3, 9, "set setting value"},
        {DEVICE_CONTRACT_ATA, 4, 4, "get ability count"},
        {DEVICE_CONTRACT_ATA, 5, 4, "get ability"},
        {DEVICE_CONTRACT_ATA, 6, 51, "do ata command"},
        {DEVICE_CONTRACT_SCSI, 6, 557, "do scsi command"},
        {DEVICE_CONTRACT_SCSI, 8, 2, "get task management support"},
        {DEVICE_CONTRACT_SCSI, 11, 24, "get topology"},
        {DEVICE_CONTRACT_SCSI, 12, 8, "get sas address"},
        {DEVICE_CONTRACT_NVME, 1, 104, "admin command"},
        {DEVICE_CONTRACT_NVME, 7, 0, "controller reset"},
    };
    for (const Case& c : cases) {
        for (int delta : {-1, 1}) {
            if (c.expected + delta < 0) continue;
            Command command(c.code, static_cast<std::size_t>(c.expected + delta));
            std::string expected = "Parameter buffer 0 is not exactly " + std::to_string(c.expected) +
                                   " bytes long for '" + c.name + "': " + std::to_string(c.expected + delta);
            EXPECT_EQ(check(c.kind, command), expected);
        }
        Command exact(c.code, static_cast<std::size_t>(c.expected), c.code == 5 ? (c.kind ? 56 : 60) : 0);
        EXPECT_EQ(check(c.kind, exact), "") << c.name;
    }
}

TEST_F(ContractCheck, GetAbilityChecksBufferOneThenTheIndex) {
    Command ata(DEVICE_FUNCTION_GET_ABILITY, 4, 56);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, ata), "Parameter buffer 1 is not exactly 60 bytes long for 'get ability': 56");
    Command scsi(DEVICE_FUNCTION_GET_ABILITY, 4, 60);
    EXPECT_EQ(check(DEVICE_CONTRACT_SCSI, scsi), "Parameter buffer 1 is not exactly 56 bytes long for 'get ability': 60");
    Command nvme(DEVICE_FUNCTION_GET_ABILITY, 4, 56);
    EXPECT_EQ(check(DEVICE_CONTRACT_NVME, nvme), "Parameter buffer 1 is not exactly 16 bytes long for 'get ability': 56");

    Command noBuffer(DEVICE_FUNCTION_GET_ABILITY, 4, 60);
    noBuffer.command.buffers[1] = nullptr;
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, noBuffer), "Null data buffer, cannot copy ability into it");

    Command index(DEVICE_FUNCTION_GET_ABILITY, 4, 60);
    int32_t value = 6;
    std::memcpy(index.block.data(), &value, 4);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, index, 6), "Ability index out of bounds: 6 (max is 6)");
    value = -1;
    std::memcpy(index.block.data(), &value, 4);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, index, 6), "Ability index out of bounds: -1 (max is 6)");
    value = 5;
    std::memcpy(index.block.data(), &value, 4);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, index, 6), "");
    EXPECT_EQ(DeviceContract_AbilityIndex(&index.command), 5);
}

TEST_F(ContractCheck, CommandBlocksArePreparedBeforeTheNullDataCheck) {
    Command ata(DEVICE_FUNCTION_DO_COMMAND, ATA_COMMAND_BLOCK_SIZE, 512);
    std::fill(ata.block.begin(), ata.block.end(), 0xFF);
    EXPECT_EQ(check(DEVICE_CONTRACT_ATA, ata), "");
    auto* block = reinterpret_cast<AtaCommandBlock*>(ata.block.data());
    EXPECT_EQ(block->resultFlags, 0);
    EXPECT_EQ(block->conditionFlags, 0);
    EXPECT_EQ(block->outStatus, 0xFF);  // outputs are the server's to write

    // A SCSI command refused after the length check still says "never reached the device".
    Command scsi(DEVICE_FUNCTION_DO_COMMAND, SCSI_COMMAND_BLOCK_SIZE, 512);
    scsi.command.buffers[1] = nullptr;
    EXPECT_EQ(check(DEVICE_CONTRACT_SCSI, scsi), "Null data buffer");
    auto* scsiBlock = reinterpret_cast<ScsiCommandBlock*>(scsi.block.data());
    EXPECT_EQ(scsiBlock->status, SCSI_STATUS_NOT_DELIVERED);

    Command nvme(NVME_DEVICE_FUNCTION_ADMIN_COMMAND, NVME_COMMAND_BLOCK_SIZE, 4096);
    nvme.command.buffers[1] = nullptr;
    EXPECT_EQ(check(DEVICE_CONTRACT_NVME, nvme), "Null data buffer");
    Command reset(NVME_DEVICE_FUNCTION_CONTROLLER_RESET, 0);
    EXPECT_EQ(check(DEVICE_CONTRACT_NVME, reset), "");
}

TEST_F(ContractCheck, ServersAddFunctionsAndTheirOwnWording) {
    DeviceContractRules rules;
    DeviceContract_InitRules(&rules, DEVICE_CONTRACT_ATA);
    DeviceContract_SetFunction(&rules, DEVICE_FUNCTION_DO_COMMAND, 1, ATA_COMMAND_BLOCK_SIZE, "do command");
    DeviceContract_SetFunction(&rules, ATA_DEVICE_FUNCTION_READ_TASKFILE, 1, ATA_TASKFILE_BLOCK_SIZE, "read taskfile");
    Command command(DEVICE_FUNCTION_DO_COMMAND, 52);
    EXPECT_EQ(run(rules, command), "Parameter buffer 0 is not exactly 51 bytes long for 'do command': 52");
    Command taskfile(ATA_DEVICE_FUNCTION_READ_TASKFILE, ATA_TASKFILE_BLOCK_SIZE);
    EXPECT_EQ(run(rules, taskfile), "");
    DeviceContract_SetFunction(&rules, DEVICE_FUNCTION_GET_SETTING, 0, 9, nullptr);
    Command setting(DEVICE_FUNCTION_GET_SETTING, 9);
    EXPECT_EQ(run(rules, setting), "Unsupported function code: 2");

    // Task management and send primitive: the server's own checks, then this one.
    Command tm(SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT, 17);
    EXPECT_EQ(check(DEVICE_CONTRACT_SCSI, tm), "");
    EXPECT_EQ(DeviceContract_CheckBlockLength(&tm.command, SCSI_TASK_MANAGEMENT_BLOCK_SIZE, &error), 0);
    EXPECT_STREQ(error.message, "parameter buffer 0 in incorrect");
    EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
    Command primitive(SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE, SAS_PRIMITIVE_BLOCK_SIZE);
    EXPECT_EQ(DeviceContract_CheckBlockLength(&primitive.command, SAS_PRIMITIVE_BLOCK_SIZE, &error), 1);
}

}  // namespace
