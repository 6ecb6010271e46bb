// The service descriptors of cvpl-csmi. Registered functions keep the service
// IDs; nothing is submitted or aborted; dispose has nothing to release.
#include <cstdio>

#include "csmi_plugin.h"

namespace csmi {

namespace {

int refuseFunction(void* /*userData*/, CvCommand* command, CvError* error) {
    return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
}
int refuseSubmit(void*, CvCommand*, CvCommandCompletion*, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported");
}
int refuseAbort(void*, uint32_t, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported");
}
int disposeNothing(void*, CvError* error) { return CvSetNoError(error); }

CvServiceDescriptor descriptor(const char* type, void* userData, CvServiceRegisteredFunction registered,
                               CvServiceExecuteFunction execute) {
    CvServiceDescriptor service{};
    std::snprintf(service.info.type, sizeof service.info.type, "%s", type);
    service.userData = userData;
    service.registered = registered;
    service.execute = execute;
    service.submit = refuseSubmit;
    service.abort = refuseAbort;
    service.dispose = disposeNothing;
    return service;
}

}  // namespace

CvServiceDescriptor adapterService(Adapter& adapter) {
    return descriptor("csmi/adapter", &adapter,
                      [](void* userData, CvUID id) { static_cast<Adapter*>(userData)->service = id; }, refuseFunction);
}

CvServiceDescriptor deviceService(Device& device) {
    return descriptor("csmi/device", &device,
                      [](void* userData, CvUID id) {
                          auto* record = static_cast<Device*>(userData);
                          record->csmiService = id;
                          record->timeoutSeconds = kDefaultTimeoutSeconds;
                      },
                      refuseFunction);
}

CvServiceDescriptor ataService(Device& device) {
    return descriptor(ATA_DEVICE_SERVICE_TYPE, &device,
                      [](void* userData, CvUID id) { static_cast<Device*>(userData)->ataService = id; },
                      [](void* userData, CvCommand* command, CvError* error) {
                          return executeAta(*static_cast<Device*>(userData), command, error);
                      });
}

CvServiceDescriptor scsiService(Device& device) {
    return descriptor(SCSI_DEVICE_SERVICE_TYPE, &device,
                      [](void* userData, CvUID id) { static_cast<Device*>(userData)->scsiService = id; },
                      [](void* userData, CvCommand* command, CvError* error) {
                          return executeScsi(*static_cast<Device*>(userData), command, error);
                      });
}

}  // namespace csmi
