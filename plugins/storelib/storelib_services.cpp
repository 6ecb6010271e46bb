// What the device services share, and "mpi/adapter".
#include "storelib_services.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace storelib_plugin {

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

void serviceRegistered(void* userData, CvUID service) {
    auto* record = static_cast<DeviceRecord*>(userData);
    std::lock_guard lock(record->mutex);
    record->service = service;
    record->timeoutNs = kDriveTimeoutNs;
}

int refuseSubmit(void*, CvCommand*, CvCommandCompletion*, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported");
}

int refuseAbort(void*, uint32_t, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported");
}

int disposeNothing(void*, CvError* error) { return CvSetNoError(error); }

int executeOnAdapter(void*, CvCommand* command, CvError* error) {
    return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
}

CvServiceDescriptor baseDescriptor(const char* type, void* userData) {
    CvServiceDescriptor descriptor{};
    std::snprintf(descriptor.info.type, sizeof descriptor.info.type, "%s", type);
    descriptor.userData = userData;
    descriptor.submit = refuseSubmit;
    descriptor.abort = refuseAbort;
    descriptor.dispose = disposeNothing;
    return descriptor;
}

}  // namespace

uint8_t DeviceRecord::interfaceClass() const {
    uint16_t value = 0;
    std::memcpy(&value, info.data() + STORELIB_DEVICE_INFO_INTERFACE_OFFSET, sizeof value);
    return static_cast<uint8_t>(value >> 12);
}

uint64_t DeviceRecord::timeout() const {
    std::lock_guard lock(mutex);
    return timeoutNs;
}

void DeviceRecord::setTimeout(uint64_t value) {
    std::lock_guard lock(mutex);
    timeoutNs = value;
}

int answerQuery(DeviceRecord& record, const QueryAnswers& answers, CvCommand* command, CvError* error) {
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        if (answers.writesCapabilities) put(command, 0, uint32_t{0});
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        put(command, 0, DeviceSettingsSupport{1, 1});
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING: {
        DeviceSetting setting = settingOf(command);
        if (setting.identifier != DEVICE_SETTING_TIMEOUT) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to get: %d", answers.settingKind,
                              setting.identifier);
        }
        setting.value = record.timeout();
        put(command, 0, setting);
        return CvSetNoError(error);
    }
    case DEVICE_FUNCTION_SET_SETTING: {
        DeviceSetting setting = settingOf(command);
        if (setting.identifier != DEVICE_SETTING_TIMEOUT) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to set: %d", answers.settingKind,
                              setting.identifier);
        }
        record.setTimeout(setting.value);
        return CvSetNoError(error);
    }
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

CvServiceDescriptor deviceServiceFor(DeviceRecord& record, const char* type, CvServiceExecuteFunction execute) {
    CvServiceDescriptor descriptor = baseDescriptor(type, &record);
    descriptor.registered = serviceRegistered;
    descriptor.execute = execute;
    return descriptor;
}

CvServiceDescriptor mpiAdapterServiceFor(AdapterRecord& record) {
    CvServiceDescriptor descriptor = baseDescriptor(kMpiAdapterServiceType, &record);
    descriptor.execute = executeOnAdapter;
    return descriptor;
}

uint16_t timeoutSeconds(uint64_t ns) {
    return static_cast<uint16_t>(std::min<uint64_t>(ns / 1000000000ull, 0xFFFF));
}

uint64_t nowNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

uint64_t elapsedNs(uint64_t startNs) { return nowNs() - startNs; }

}  // namespace storelib_plugin
