// The services the plug-in registers: "ata/device" (STP pass-through) and
// "scsi/device" (SCSI pass-through) on drives, "mpi/adapter" on adapters.
#pragma once

#include <vector>

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
int answerQuery(DeviceRecord& record, const DeviceQueryAnswers& answers, CvCommand* command, CvError* error);
CvServiceDescriptor deviceServiceFor(DeviceRecord& record, const char* type, CvServiceExecuteFunction execute);

// Whole seconds of a time-out, held to the 16 bits of the requests.
uint16_t timeoutSeconds(uint64_t ns);

// Sends a pass-through command of the drive whose data is the request (and
// whatever follows it), with an optional sense buffer; the StoreLib status, and
// how long the call took.
uint32_t sendPassThrough(const DeviceRecord& record, uint8_t command, std::vector<uint8_t>& request, void* sense,
                         uint32_t senseSize, uint64_t& durationNs);

}  // namespace storelib_plugin
