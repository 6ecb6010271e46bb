// The few framework calls the tool makes on drives, gathered in one table so the
// tests can stand in for the framework and see exactly what a drive would
// receive. Production code fills the table with the real framework functions;
// nothing else in the tool calls those functions directly.
#pragma once

#include "drive_table.h"

#include <corvane.h>

#include <cstdint>

namespace firmstep {

struct FrameworkCalls {
    int (*getResourceList)(CvUID machine, CvUIDList* list, CvError* error);
    int (*getServiceList)(CvUID machine, CvUID resource, CvUIDList* list, CvError* error);
    int (*getServiceInfo)(CvUID machine, CvUID resource, CvUID service, CvServiceInfo* info, CvError* error);
    int (*executeCommand)(CvUID machine, CvUID resource, CvUID service, CvCommand* command, CvError* error);
    // The pauses between retries and before an identity refresh; tests replace
    // it so that they never wait.
    void (*sleepMilliseconds)(std::uint32_t milliseconds);
};

// The table in force: the real framework unless a test has replaced it.
const FrameworkCalls& Framework();

// One command on the service `path` leads to on `machine`: buffer 0 holds the
// parameter block, buffer 1 the data (either may be absent with length 0).
int ExecuteOnService(CvUID machine, AccessPath path, std::uint8_t function, std::uint32_t tag, void* block,
                     std::uint32_t blockLength, void* data, std::uint32_t dataLength, CvError& error);

// The device command of an "ata/device" or "scsi/device" service (its
// parameter block and data), untagged.
int ExecuteDeviceCommand(CvUID machine, AccessPath path, void* block, std::uint32_t blockLength, void* data,
                         std::uint32_t dataLength, CvError& error);

// Replaces the table until the object is destroyed (tests only).
class ScopedFrameworkCalls {
public:
    explicit ScopedFrameworkCalls(const FrameworkCalls& calls);
    ~ScopedFrameworkCalls();
    ScopedFrameworkCalls(const ScopedFrameworkCalls&) = delete;
    ScopedFrameworkCalls& operator=(const ScopedFrameworkCalls&) = delete;

private:
    FrameworkCalls previous_;
};

}  // namespace firmstep
