// One access path to a simulated drive, served as an "ata/device",
// "scsi/device" or "nvme/device" resource service. Several units may share one
// drive; the drive's own mutex serialises their commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <corvane.h>

#include "device/contract_check.h"
#include "simdrive/drive.h"

namespace cvpl_simdrive {

struct DeviceUnit {
    DeviceUnit(std::shared_ptr<simdrive::SimDrive> simulated, uint32_t path);

    const std::shared_ptr<simdrive::SimDrive> drive;
    // Which access path this is (0 first); SCSI drives keep unit attentions per path.
    const uint32_t nexus;
    // Setting 0. The simulator answers at once, so it is kept for clients only.
    std::atomic<uint64_t> timeoutNs{DEVICE_SETTING_TIMEOUT_DEFAULT_NS};
    DeviceContractRules rules{};
};

// The descriptor to register for a unit; the unit must outlive the service.
CvServiceDescriptor serviceDescriptorFor(DeviceUnit& unit);

// Runs one command on a unit, the execute function of its service.
int executeOnUnit(DeviceUnit& unit, CvCommand* command, CvError* error);

// The three kinds, after nothing has been checked yet.
int executeAtaCommand(DeviceUnit& unit, CvCommand* command, CvError* error);
int executeScsiCommand(DeviceUnit& unit, CvCommand* command, CvError* error);
int executeNvmeCommand(DeviceUnit& unit, CvCommand* command, CvError* error);

}  // namespace cvpl_simdrive
