// One "scsi/device" service on one disk: SG_IO for ordinary commands, and the
// host-port library for disks found behind an MPT adapter.
#pragma once

#include <array>

#include "device/contract_check.h"
#include "device/scsi_device.h"
#include "host_port.h"
#include "kernel_io/disk_plugin.h"

namespace scsi_plugin {

inline constexpr int32_t kAbilityCount = DEVICE_SCSI_ABILITY_COUNT;

class ScsiUnit final : public passthrough::DiskUnit {
public:
    ScsiUnit(passthrough::DiskPlugin& plugin, CvUID resource, const DriveInfoBlock& info, const HostPort& hostPort,
             std::string path, std::shared_ptr<passthrough::OpenDisk> disk);

    int execute(CvCommand* command, CvError* error) override;

private:
    int doScsiCommand(CvCommand* command, CvError* error);
    int systemPath(CvCommand* command, CvError* error);
    int hostPortPath(CvCommand* command, bool explicitUnit, CvError* error);
    int taskManagement(CvCommand* command, CvError* error);
    int sendPrimitive(CvCommand* command, CvError* error);
    int topology(CvCommand* command, CvError* error);
    uint32_t capabilities() const;

    DeviceContractRules rules_;
    std::array<ScsiAbility, kAbilityCount> abilities_{};
    bool hasDeviceBlock_ = false;
    std::array<uint8_t, DRIVE_INFO_DEVICE_BLOCK_SIZE> deviceBlock_{};
    bool mpt_ = false;
    HostPortInfo hostPortInfo_{};
    HostPort hostPort_;
    std::mutex hostPortMutex_;  // task management and primitives go one at a time
    bool hasTopology_ = false;
    std::array<uint32_t, 4> topology_{};
    bool hasSasAddress_ = false;
    uint64_t sasAddress_ = 0;
};

}  // namespace scsi_plugin
