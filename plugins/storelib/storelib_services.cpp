// What the device services share, and "mpi/adapter".
#include "storelib_services.h"

#include "storelib_library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace storelib_plugin {

namespace {

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

int answerQuery(DeviceRecord& record, const DeviceQueryAnswers& answers, CvCommand* command, CvError* error) {
    DeviceTimeoutAccess timeout{&record, [](void* owner) { return static_cast<DeviceRecord*>(owner)->timeout(); },
                                [](void* owner, uint64_t value) { static_cast<DeviceRecord*>(owner)->setTimeout(value); }};
    return DeviceContract_AnswerQuery(&answers, &timeout, command, error);
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

uint32_t sendPassThrough(const DeviceRecord& record, uint8_t command, std::vector<uint8_t>& request, void* sense,
                         uint32_t senseSize, uint64_t& durationNs) {
    StoreLibCommandRecord send{};
    send.commandClass = STORELIB_CLASS_PASS_THROUGH;
    send.command = command;
    send.controllerId = record.adapter->controllerId;
    send.deviceId = record.deviceId;
    send.dataSize = static_cast<uint32_t>(request.size());
    send.data = request.data();
    send.sense = sense;
    send.senseSize = senseSize;
    auto start = std::chrono::steady_clock::now();
    uint32_t status = record.libraries->send(record.adapter->libraryIndex, send);
    durationNs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    return status;
}

}  // namespace storelib_plugin
