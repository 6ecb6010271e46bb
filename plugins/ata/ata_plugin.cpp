// cvpl-ata: "ata/device" on every disk of the OS devices plug-in that answers
// IDENTIFY DEVICE through SAT ATA PASS-THROUGH over SG_IO, USB disks excepted.
#include <corvane.h>

#include <array>

#include "ata_unit.h"
#include "os_gate.h"
#include "sat_codec/identify_data.h"
#include "sat_pass_through.h"

namespace ata_plugin {
namespace {

constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint64_t kProbeTimeoutNs = 60000000000ull;

class AtaPlugin final : public passthrough::DiskPlugin {
public:
    AtaPlugin() : DiskPlugin(ATA_DEVICE_SERVICE_TYPE, "ATA") {}

protected:
    // USB disks belong to the plug-ins that speak to USB bridges.
    bool acceptsNode(CvUID /*resource*/, const OsDriveInfo& info) override {
        return (info.info.flags & DRIVE_INFO_BUS_USB) == 0;
    }

    // IDENTIFY DEVICE, taken only when it ends without error and brings back
    // 512 bytes of IDENTIFY data: a bridge or translation that answers GOOD
    // without running the command leaves the buffer as it was.
    bool probe(const passthrough::OpenDisk& disk) override {
        std::array<uint8_t, sat::kIdentifyDataLength> identify{};
        PassThroughRequest request;
        request.taskfile.count = 1;
        request.taskfile.command = kIdentifyDevice;
        request.direction = DataDirection::In;
        request.data = identify.data();
        request.length = static_cast<uint32_t>(identify.size());
        request.timeoutNs = kProbeTimeoutNs;
        const PassThroughResult result = runPassThrough(disk.fd(), request);
        return result.systemError == 0 && !result.senseFailure && result.registersValid &&
               !sat::statusReportsError(result.registers.status) && result.transferred == identify.size() &&
               sat::isIdentifyDeviceData(identify);
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
