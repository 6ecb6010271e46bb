// One "nvme/device" service on one NVMe namespace: admin commands and resets
// go to its controller, whose admin transfer limit its abilities report.
#pragma once

#include <array>

#include "device/contract_check.h"
#include "device/nvme_device.h"
#include "kernel_io/disk_plugin.h"

namespace nvme_plugin {

class NvmeUnit final : public passthrough::DiskUnit {
public:
    NvmeUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
             std::shared_ptr<passthrough::OpenDisk> controller);

    int execute(CvCommand* command, CvError* error) override;

private:
    int adminCommand(CvCommand* command, CvError* error);
    int resetController(CvError* error);

    DeviceContractRules rules_;
    std::array<NvmeAbility, 2> abilities_{};
};

// Issues one admin command on an open controller. The submission entry and
// data go in, the completion entry comes back. 0, or an errno value when the
// command could not be issued or did not reach the controller: the kernel
// refused it, gave up on it (an interrupted wait, EINTR on older kernels), or
// completed it with a status of its own making (host pathing error, command
// aborted by the host) instead of the controller's; those give EIO.
int issueAdminCommand(int fd, const NvmeSubmissionEntry& submission, uint64_t timeoutNs, void* data,
                      uint32_t length, NvmeCompletionEntry& completion);

}  // namespace nvme_plugin
