// cvpl-nvme: "nvme/device" on every NVMe namespace of the OS devices plug-in
// whose controller answers Identify Controller.
#include <corvane.h>

#include <vector>

#include "nvme_path.h"
#include "nvme_unit.h"

namespace nvme_plugin {
namespace {

constexpr uint64_t kProbeTimeoutNs = 15000000000ull;

class NvmePlugin final : public passthrough::DiskPlugin {
public:
    NvmePlugin() : DiskPlugin(NVME_DEVICE_SERVICE_TYPE, "NVMe") {}

protected:
    // Namespaces only: other disks are left to the ATA and SCSI plug-ins.
    std::string devicePath(const char* diskPath) const override { return controllerPath(diskPath); }

    bool probe(const passthrough::OpenDisk& controller) override {
        std::vector<uint8_t> identify(4096);
        NvmeSubmissionEntry submission{};
        submission.opcode = NVME_ADMIN_IDENTIFY;
        submission.cdw10 = 1;  // the controller data structure
        NvmeCompletionEntry completion{};
        return issueAdminCommand(controller.fd(), submission, kProbeTimeoutNs, identify.data(),
                                 static_cast<uint32_t>(identify.size()), completion) == 0 &&
               !NvmeCompletion_Failed(&completion);
    }

    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo& /*info*/, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        return std::make_unique<NvmeUnit>(*this, resource, std::move(path), std::move(disk));
    }
};

NvmePlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* /*settings*/, CvError* error) { return g_plugin.load(error); }
int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace
}  // namespace nvme_plugin

CV_DEFINE_PLUGIN("NVMe Plugin", "Provides NVMe admin commands and controller resets on NVMe namespaces",
                 "1.12.7.3", "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 nvme_plugin::load, nvme_plugin::unload);
