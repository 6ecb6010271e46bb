// Device records: ability lists and the rules of their two service types.
#include "csmi_records.h"

#include <cstring>

#include "csmi/csmi_wire.h"

namespace csmi {

namespace {

constexpr uint8_t kAtaProtocols[kAtaAbilityCount] = {0, 1, 2, 3, 4, 5, 10, 11, 12, 13};
constexpr uint32_t kAtaMaxTransfer = 33554432;
constexpr uint32_t kScsiGenericTransfer = 524288;
constexpr uint32_t kScsiOperationTransfer = 32768;
constexpr uint64_t kNanosecondsPerSecond = 1000000000ull;

}  // namespace

bool Device::sata() const { return targetProtocol == CSMI_PROTOCOL_SATA; }

std::unique_ptr<Device> makeDevice(Adapter& adapter) {
    auto device = std::make_unique<Device>();
    device->adapter = &adapter;
    for (int32_t i = 0; i < kAtaAbilityCount; ++i) {
        AtaAbility& ability = device->ataAbilities[static_cast<std::size_t>(i)];
        ability.identifier = kAtaProtocols[i];
        ability.maxTransferBytes = kAtaProtocols[i] <= ATA_PROTOCOL_NON_DATA_EXT ? 0 : kAtaMaxTransfer;
        ability.minLbaCount = 1;
    }
    DeviceContract_FillScsiAbilities(device->scsiAbilities.data(), kScsiGenericTransfer, kScsiOperationTransfer);

    // Both command functions of "ata/device" and the SCSI command name the
    // function plainly in their length message.
    DeviceContract_InitRules(&device->ataRules, DEVICE_CONTRACT_ATA);
    DeviceContract_SetFunction(&device->ataRules, DEVICE_FUNCTION_DO_COMMAND, 1, ATA_COMMAND_BLOCK_SIZE, "do command");
    DeviceContract_SetFunction(&device->ataRules, ATA_DEVICE_FUNCTION_RESET, 1, ATA_COMMAND_BLOCK_SIZE, "do command");

    DeviceContract_InitRules(&device->scsiRules, DEVICE_CONTRACT_SCSI);
    DeviceContract_SetFunction(&device->scsiRules, DEVICE_FUNCTION_DO_COMMAND, 1, SCSI_COMMAND_BLOCK_SIZE, "do command");
    for (uint8_t code : {SCSI_DEVICE_FUNCTION_RESET, SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT,
                         SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT, SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE,
                         SCSI_DEVICE_FUNCTION_GET_TOPOLOGY, SCSI_DEVICE_FUNCTION_TAG_IDS,
                         SCSI_DEVICE_FUNCTION_FETCH_TASK_MANAGEMENT})
        DeviceContract_SetFunction(&device->scsiRules, code, 0, DEVICE_LENGTH_UNCHECKED, nullptr);
    return device;
}

int answerQuery(Device& device, CvCommand* command, const QueryAnswers& answers, CvError* error) {
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        std::memcpy(command->buffers[0], &answers.capabilities, sizeof answers.capabilities);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT: {
        const DeviceSettingsSupport support{1, 1};
        std::memcpy(command->buffers[0], &support, sizeof support);
        return CvSetNoError(error);
    }
    case DEVICE_FUNCTION_GET_SETTING: {
        auto* setting = static_cast<DeviceSetting*>(command->buffers[0]);
        if (setting->identifier != DEVICE_SETTING_TIMEOUT)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to get: %d", answers.kind,
                              setting->identifier);
        setting->value = uint64_t{device.timeoutSeconds.load()} * kNanosecondsPerSecond;
        return CvSetNoError(error);
    }
    case DEVICE_FUNCTION_SET_SETTING: {
        const auto* setting = static_cast<const DeviceSetting*>(command->buffers[0]);
        if (setting->identifier != DEVICE_SETTING_TIMEOUT)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to set: %d", answers.kind,
                              setting->identifier);
        const uint64_t seconds = setting->value / kNanosecondsPerSecond;
        device.timeoutSeconds = seconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(seconds);
        return CvSetNoError(error);
    }
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        std::memcpy(command->buffers[0], &answers.abilityCount, sizeof answers.abilityCount);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY: {
        const auto index = static_cast<std::size_t>(DeviceContract_AbilityIndex(command));
        std::memcpy(command->buffers[1], answers.abilities + index * answers.abilitySize, answers.abilitySize);
        return CvSetNoError(error);
    }
    default: return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
}

}  // namespace csmi
