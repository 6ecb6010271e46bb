// The services the plug-in registers: "ata/device" (STP pass-through) and
// "scsi/device" (SCSI pass-through) on drives, "mpi/adapter" on adapters.
#pragma once

#include <corvane.h>

#include "storelib_records.h"

namespace storelib_plugin {

inline constexpr const char* kMpiAdapterServiceType = "mpi/adapter";

// Descriptors whose user data is the record; the record must outlive the service.
CvServiceDescriptor ataServiceFor(DeviceRecord& record);
CvServiceDescriptor scsiServiceFor(DeviceRecord& record);
CvServiceDescriptor mpiAdapterServiceFor(AdapterRecord& record);

// What the ATA and SCSI services share: functions 0 to 5 and the parts of the
// descriptor that do not depend on the service type.
struct QueryAnswers {
    const char* settingKind;       // "ATA" or "CCISS", as the setting refusals name it
    bool writesCapabilities;       // 'get capabilities' writes 0 (SCSI) or nothing (ATA)
    const void* abilities;         // abilityCount records of abilitySize bytes
    uint32_t abilitySize;
    int32_t abilityCount;
};
int answerQuery(DeviceRecord& record, const QueryAnswers& answers, CvCommand* command, CvError* error);
CvServiceDescriptor deviceServiceFor(DeviceRecord& record, const char* type, CvServiceExecuteFunction execute);

// Whole seconds of a time-out, held to the 16 bits of the requests.
uint16_t timeoutSeconds(uint64_t ns);
// Nanoseconds since a steady-clock start.
uint64_t elapsedNs(uint64_t startNs);
uint64_t nowNs();

}  // namespace storelib_plugin
