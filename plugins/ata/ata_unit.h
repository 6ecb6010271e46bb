// One "ata/device" service on one disk.
#pragma once

#include <array>

#include "device/ata_device.h"
#include "device/contract_check.h"
#include "kernel_io/disk_plugin.h"

namespace ata_plugin {

inline constexpr int32_t kAbilityCount = 6;

class AtaUnit final : public passthrough::DiskUnit {
public:
    AtaUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
            std::shared_ptr<passthrough::OpenDisk> disk);

    int execute(CvCommand* command, CvError* error) override;

private:
    int doAtaCommand(CvCommand* command, CvError* error);

    DeviceContractRules rules_;
    std::array<AtaAbility, kAbilityCount> abilities_{};
};

}  // namespace ata_plugin
