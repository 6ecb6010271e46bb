// cvpl-atacb: "ata/device" on USB disks whose bridge takes IDENTIFY DEVICE as
// an ATACB command block. ATACB is one vendor's command: it is never sent to
// a disk that is not on the USB bus.
#include <corvane.h>

#include <array>

#include "atacb_cdb.h"
#include "atacb_unit.h"
#include "bridge_request.h"
#include "sat_codec/identify_data.h"

namespace atacb_plugin {
namespace {

class AtacbPlugin final : public passthrough::DiskPlugin {
public:
    AtacbPlugin() : DiskPlugin(ATA_DEVICE_SERVICE_TYPE, "ATA") {}

protected:
    bool acceptsNode(CvUID /*resource*/, const OsDriveInfo& info) override {
        return info.nodeType >= 1 && info.nodeType <= 3 && (info.info.flags & DRIVE_INFO_BUS_USB) != 0;
    }

    // Taken when IDENTIFY DEVICE ends GOOD with IDENTIFY data in the buffer.
    bool probe(const passthrough::OpenDisk& disk) override {
        const atacb::Cdb cdb = atacb::identifyCdb();
        std::array<uint8_t, sat::kIdentifyDataLength> data{};
        const usb_bridge::ScsiOutcome outcome = usb_bridge::sendScsi(disk.fd(), usb_bridge::readRequest(cdb, data));
        return outcome.systemError == 0 && outcome.status == usb_bridge::kScsiGood &&
               outcome.transferred == data.size() && sat::isIdentifyDeviceData(data);
    }

    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo& /*info*/, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        return std::make_unique<AtacbUnit>(*this, resource, std::move(path), std::move(disk));
    }
};

AtacbPlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* /*settings*/, CvError* error) { return g_plugin.load(error); }
int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace
}  // namespace atacb_plugin

CV_DEFINE_PLUGIN("ATACB Plugin", "Provides raw access to certain USB ATA targets using the passthru protocol ATACB",
                 "1.12.7.3", "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 atacb_plugin::load, atacb_plugin::unload);
