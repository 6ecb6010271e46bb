// Capabilities, settings and abilities of the ATA and SCSI services.
#include "device_queries.h"

#include <cstring>

namespace cvpl_simdrive {

namespace {

template <typename T>
void put(CvCommand* command, int buffer, const T& value) {
    std::memcpy(command->buffers[buffer], &value, sizeof value);
}

DeviceSetting settingOf(const CvCommand* command) {
    DeviceSetting setting;
    std::memcpy(&setting, command->buffers[0], sizeof setting);
    return setting;
}

int getSetting(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error) {
    DeviceSetting setting = settingOf(command);
    if (setting.identifier == DEVICE_SETTING_TIMEOUT) {
        setting.value = unit.timeoutNs.load();
    } else if (setting.identifier == DEVICE_SETTING_ATA_CONSTANT && answers.constantSetting5) {
        setting.value = 1;
    } else {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to get: %d", answers.kindName,
                          setting.identifier);
    }
    put(command, 0, setting);
    return CvSetNoError(error);
}

int setSetting(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error) {
    DeviceSetting setting = settingOf(command);
    if (setting.identifier != DEVICE_SETTING_TIMEOUT) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to set: %d", answers.kindName,
                          setting.identifier);
    }
    unit.timeoutNs.store(setting.value);
    return CvSetNoError(error);
}

}  // namespace

int answerQuery(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error) {
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        put(command, 0, answers.capabilities);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        put(command, 0, answers.support);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
        return getSetting(unit, answers, command, error);
    case DEVICE_FUNCTION_SET_SETTING:
        return setSetting(unit, answers, command, error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        put(command, 0, answers.abilityCount);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY: {
        // The common checks have bounded the index by the count.
        int32_t index = DeviceContract_AbilityIndex(command);
        const auto* records = static_cast<const uint8_t*>(answers.abilities);
        std::memcpy(command->buffers[1], records + static_cast<std::size_t>(index) * answers.abilitySize,
                    answers.abilitySize);
        return CvSetNoError(error);
    }
    default:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
}

}  // namespace cvpl_simdrive
