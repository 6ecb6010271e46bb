// The checks every device service runs before it looks at a command.
#include "device/contract_check.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

struct FunctionEntry {
    uint8_t code;
    int32_t parameterLength;
    const char* name;
};

constexpr FunctionEntry kCommonFunctions[] = {
    {DEVICE_FUNCTION_GET_CAPABILITIES, DEVICE_CAPABILITIES_SIZE, "get capabilities"},
    {DEVICE_FUNCTION_GET_SETTINGS_SUPPORT, DEVICE_SETTINGS_SUPPORT_SIZE, "get settings support"},
    {DEVICE_FUNCTION_GET_SETTING, DEVICE_SETTING_SIZE, "get setting value"},
    {DEVICE_FUNCTION_SET_SETTING, DEVICE_SETTING_SIZE, "set setting value"},
    {DEVICE_FUNCTION_GET_ABILITY_COUNT, DEVICE_ABILITY_COUNT_SIZE, "get ability count"},
    {DEVICE_FUNCTION_GET_ABILITY, DEVICE_ABILITY_INDEX_SIZE, "get ability"},
};

constexpr FunctionEntry kScsiFunctions[] = {
    {DEVICE_FUNCTION_DO_COMMAND, SCSI_COMMAND_BLOCK_SIZE, "do scsi command"},
    {SCSI_DEVICE_FUNCTION_RESET, DEVICE_LENGTH_UNCHECKED, "reset"},
    {SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT, SCSI_TASK_MANAGEMENT_SUPPORT_SIZE, "get task management support"},
    {SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT, DEVICE_LENGTH_UNCHECKED, "task management"},
    {SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE, DEVICE_LENGTH_UNCHECKED, "send primitive"},
    {SCSI_DEVICE_FUNCTION_GET_TOPOLOGY, SCSI_TOPOLOGY_SIZE, "get topology"},
    {SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS, SCSI_SAS_ADDRESS_SIZE, "get sas address"},
    {SCSI_DEVICE_FUNCTION_TAG_IDS, DEVICE_LENGTH_UNCHECKED, "tag identifiers"},
    {SCSI_DEVICE_FUNCTION_FETCH_TASK_MANAGEMENT, DEVICE_LENGTH_UNCHECKED, "task management function fetching"},
};

constexpr uint8_t kResultFlagsOffset = 3;
constexpr std::size_t kAtaConditionOffset = 20;
constexpr std::size_t kScsiConditionOffset = 34;
constexpr std::size_t kScsiStatusOffset = 32;

void apply(DeviceContractRules* rules, const FunctionEntry& entry) {
    DeviceContract_SetFunction(rules, entry.code, 1, entry.parameterLength, entry.name);
}

bool isCommandFunction(int32_t kind, uint8_t code) {
    return kind == DEVICE_CONTRACT_NVME ? code == NVME_DEVICE_FUNCTION_ADMIN_COMMAND : code == DEVICE_FUNCTION_DO_COMMAND;
}

// The server clears its output flags before anything can fail after this point;
// a SCSI block says 0xFF until the device has answered.
void prepareCommandBlock(int32_t kind, const CvCommand* command) {
    auto* block = static_cast<uint8_t*>(command->buffers[0]);
    if (kind == DEVICE_CONTRACT_ATA && command->bufferLengths[0] == ATA_COMMAND_BLOCK_SIZE) {
        block[kResultFlagsOffset] = 0;
        block[kAtaConditionOffset] = 0;
    } else if (kind == DEVICE_CONTRACT_SCSI && command->bufferLengths[0] == SCSI_COMMAND_BLOCK_SIZE) {
        block[kResultFlagsOffset] = 0;
        block[kScsiConditionOffset] = 0;
        uint16_t notDelivered = SCSI_STATUS_NOT_DELIVERED;
        std::memcpy(block + kScsiStatusOffset, &notDelivered, sizeof notDelivered);
    }
}

int checkAbilityRequest(int32_t kind, const CvCommand* command, int32_t abilityCount, CvError* error) {
    uint32_t abilitySize = kind == DEVICE_CONTRACT_SCSI   ? SCSI_ABILITY_SIZE
                           : kind == DEVICE_CONTRACT_NVME ? NVME_ABILITY_SIZE
                                                          : ATA_ABILITY_SIZE;
    if (command->bufferLengths[1] != abilitySize) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT,
                          "Parameter buffer 1 is not exactly %d bytes long for 'get ability': %d",
                          static_cast<int>(abilitySize), static_cast<int>(command->bufferLengths[1]));
    }
    if (command->buffers[1] == nullptr) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Null data buffer, cannot copy ability into it");
    }
    int32_t index = DeviceContract_AbilityIndex(command);
    if (index < 0 || index >= abilityCount) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Ability index out of bounds: %d (max is %d)",
                          static_cast<int>(index), static_cast<int>(abilityCount));
    }
    return 1;
}

}  // namespace

void DeviceContract_InitRules(DeviceContractRules* rules, int32_t kind) {
    std::memset(rules, 0, sizeof *rules);
    rules->kind = kind;
    switch (kind) {
    case DEVICE_CONTRACT_ATA:
        for (const auto& entry : kCommonFunctions) apply(rules, entry);
        apply(rules, {DEVICE_FUNCTION_DO_COMMAND, ATA_COMMAND_BLOCK_SIZE, "do ata command"});
        break;
    case DEVICE_CONTRACT_SCSI:
        for (const auto& entry : kCommonFunctions) apply(rules, entry);
        for (const auto& entry : kScsiFunctions) apply(rules, entry);
        break;
    case DEVICE_CONTRACT_NVME:
        apply(rules, {NVME_DEVICE_FUNCTION_ADMIN_COMMAND, NVME_COMMAND_BLOCK_SIZE, "admin command"});
        apply(rules, kCommonFunctions[DEVICE_FUNCTION_GET_ABILITY_COUNT]);
        apply(rules, kCommonFunctions[DEVICE_FUNCTION_GET_ABILITY]);
        apply(rules, {NVME_DEVICE_FUNCTION_CONTROLLER_RESET, 0, "controller reset"});
        break;
    default:
        break;
    }
}

void DeviceContract_SetFunction(DeviceContractRules* rules, uint8_t code, int served, int32_t parameterLength,
                                const char* name) {
    if (code >= DEVICE_CONTRACT_FUNCTION_SLOTS) return;
    DeviceFunctionRule& rule = rules->functions[code];
    rule.served = served ? 1 : 0;
    rule.parameterLength = parameterLength;
    std::memset(rule.name, 0, sizeof rule.name);
    if (name != nullptr) {
        std::string_view text(name);
        std::memcpy(rule.name, text.data(), std::min(text.size(), sizeof rule.name - 1));
    }
}

int DeviceContract_CheckCommand(const DeviceContractRules* rules, CvCommand* command, int32_t abilityCount,
                                CvError* error) {
    uint8_t code = command->function;
    if (code >= DEVICE_CONTRACT_FUNCTION_SLOTS || !rules->functions[code].served) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", code);
    }
    const DeviceFunctionRule& rule = rules->functions[code];
    if (rule.parameterLength != DEVICE_LENGTH_UNCHECKED) {
        if (command->bufferLengths[0] != static_cast<uint32_t>(rule.parameterLength)) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT,
                              "Parameter buffer 0 is not exactly %d bytes long for '%s': %d",
                              static_cast<int>(rule.parameterLength), rule.name,
                              static_cast<int>(command->bufferLengths[0]));
        }
        // The core refuses a length without a buffer before a service sees it;
        // this keeps a server safe should a caller bypass the core.
        if (rule.parameterLength > 0 && command->buffers[0] == nullptr) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Null parameter buffer 0");
        }
    }
    if (code == DEVICE_FUNCTION_GET_ABILITY) {
        return checkAbilityRequest(rules->kind, command, abilityCount, error) ? CvSetNoError(error) : 0;
    }
    if (isCommandFunction(rules->kind, code)) {
        if (command->buffers[0] != nullptr) prepareCommandBlock(rules->kind, command);
        if (command->bufferLengths[1] != 0 && command->buffers[1] == nullptr) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Null data buffer");
        }
    }
    return CvSetNoError(error);
}

int DeviceContract_CheckBlockLength(const CvCommand* command, uint32_t expected, CvError* error) {
    if (command->bufferLengths[0] != expected || command->buffers[0] == nullptr) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "parameter buffer 0 in incorrect");
    }
    return CvSetNoError(error);
}

void DeviceContract_FillScsiAbilities(ScsiAbility* abilities, uint32_t genericTransfer, uint32_t operationTransfer) {
    static constexpr uint8_t kDataInCodes[] = {0x12, 0x4D, 0x1A, 0x5A, 0x5E, 0x3C, 0x25, 0x9E, 0x37,
                                               0xB7, 0x3E, 0x9E, 0x1C, 0xA3, 0xA0, 0xA3, 0xA3, 0x03};
    static constexpr uint8_t kDataOutCodes[] = {0x4C, 0x15, 0x55, 0x5F, 0x57, 0x16, 0x56, 0x1D, 0xA4, 0x3B, 0x3F, 0x9F};
    static_assert(3 + std::size(kDataInCodes) + std::size(kDataOutCodes) == DEVICE_SCSI_ABILITY_COUNT);
    std::size_t next = 0;
    auto add = [&](uint8_t kind, uint8_t operationCode, uint32_t transfer) {
        ScsiAbility& ability = abilities[next++];
        std::memset(&ability, 0, sizeof ability);
        ability.kind = kind;
        ability.operationCode = operationCode;
        ability.maxTransferBytes = transfer;
        ability.value40 = 127;
        ability.value48 = 0x7FFFFFFFFFFFFFFFull;
    };
    add(SCSI_DIRECTION_NONE, 0, 0);
    add(SCSI_DIRECTION_IN, 0, genericTransfer);
    add(SCSI_DIRECTION_OUT, 0, genericTransfer);
    for (uint8_t code : kDataInCodes) add(SCSI_DIRECTION_IN, code, operationTransfer);
    for (uint8_t code : kDataOutCodes) add(SCSI_DIRECTION_OUT, code, operationTransfer);
}

int DeviceContract_AnswerQuery(const DeviceQueryAnswers* answers, const DeviceTimeoutAccess* timeout,
                               CvCommand* command, CvError* error) {
    auto put = [&](const auto& value) { std::memcpy(command->buffers[0], &value, sizeof value); };
    DeviceSetting setting{};
    if (command->function == DEVICE_FUNCTION_GET_SETTING || command->function == DEVICE_FUNCTION_SET_SETTING) {
        std::memcpy(&setting, command->buffers[0], sizeof setting);
    }
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        if (answers->writesCapabilities) put(answers->capabilities);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        put(answers->support);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
        if (setting.identifier == DEVICE_SETTING_TIMEOUT) {
            setting.value = timeout->get(timeout->owner);
        } else if (setting.identifier == DEVICE_SETTING_ATA_CONSTANT && answers->constantSetting5) {
            setting.value = 1;
        } else {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to get: %d", answers->settingKind,
                              setting.identifier);
        }
        put(setting);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_SET_SETTING:
        if (setting.identifier != DEVICE_SETTING_TIMEOUT) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to set: %d", answers->settingKind,
                              setting.identifier);
        }
        timeout->set(timeout->owner, setting.value);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        put(answers->abilityCount);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY: {
        // The common checks have bounded the index by the count.
        const auto* records = static_cast<const uint8_t*>(answers->abilities);
        std::size_t index = static_cast<std::size_t>(DeviceContract_AbilityIndex(command));
        std::memcpy(command->buffers[1], records + index * answers->abilitySize, answers->abilitySize);
        return CvSetNoError(error);
    }
    default:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
}

int32_t DeviceContract_AbilityIndex(const CvCommand* command) {
    int32_t index = -1;
    if (command->buffers[0] != nullptr && command->bufferLengths[0] >= sizeof index) {
        std::memcpy(&index, command->buffers[0], sizeof index);
    }
    return index;
}
