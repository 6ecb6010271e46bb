// cvpl-ata: "ata/device" on every disk of the OS devices plug-in that answers
// IDENTIFY DEVICE through SAT ATA PASS-THROUGH over SG_IO.
#include <corvane.h>

#include "ata_unit.h"
#include "os_gate.h"
#include "sat_pass_through.h"

namespace ata_plugin {
namespace {

constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint64_t kProbeTimeoutNs = 60000000000ull;

class AtaPlugin final : public passthrough::DiskPlugin {
public:
    AtaPlugin() : DiskPlugin(ATA_DEVICE_SERVICE_TYPE, "ATA") {}

protected:
    bool probe(const passthrough::OpenDisk& disk) override {
        uint8_t identify[512] = {};
        PassThroughRequest request;
        request.taskfile.count = 1;
        request.taskfile.command = kIdentifyDevice;
        request.direction = DataDirection::In;
        request.data = identify;
        request.length = sizeof identify;
        request.timeoutNs = kProbeTimeoutNs;
        return runPassThrough(disk.fd(), request).systemError == 0;
    }

    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo& /*info*/, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        return std::make_unique<AtaUnit>(*this, resource, std::move(path), std::move(disk));
    }
};

AtaPlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* /*settings*/, CvError* error) {
    if (!checkOperatingSystem(error)) return 0;
    return g_plugin.load(error);
}

int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace
}  // namespace ata_plugin

CV_DEFINE_PLUGIN("ATA Plugin", "Provides raw access to ATA targets using IOCTL_ATA_PASS_THROUGH", "1.12.7.3",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 ata_plugin::load, ata_plugin::unload);
