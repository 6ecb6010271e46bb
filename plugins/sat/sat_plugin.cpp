// cvpl-sat: "ata/device" on every disk of the OS devices plug-in that answers
// IDENTIFY DEVICE sent in ATA PASS-THROUGH (12), typically behind a USB bridge.
#include <corvane.h>

#include <array>
#include <optional>

#include "bridge_request.h"
#include "sat_codec/identify_data.h"
#include "sat_codec/sat_cdb.h"
#include "sat_codec/sat_version.h"
#include "sat_unit.h"

namespace sat_plugin {
namespace {

constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kInquiry = 0x12;
constexpr std::size_t kInquiryLength = 96;
constexpr const char* kVersionKey = "AtaFixedSenseDataVersion";

using usb_bridge::ScsiOutcome;
using usb_bridge::ScsiRequest;

class SatPlugin final : public passthrough::DiskPlugin {
public:
    SatPlugin() : DiskPlugin(ATA_DEVICE_SERVICE_TYPE, "SAT") {}

    // The configured version, or nothing to ask each disk.
    void configure(std::optional<sat::Version> version) { configured_ = version; }

protected:
    bool acceptsNode(CvUID /*resource*/, const OsDriveInfo& info) override {
        return info.nodeType >= 1 && info.nodeType <= 3;
    }

    // IDENTIFY DEVICE as PIO data-in, taken when it ends GOOD with IDENTIFY
    // data: a bridge that answers GOOD without passing the command on leaves
    // the buffer as it was.
    bool probe(const passthrough::OpenDisk& disk) override {
        sat::Command identify;
        identify.protocol = sat::Protocol::PioIn;
        identify.transfer = sat::Transfer::FromDevice;
        identify.taskfile.count = 1;
        identify.taskfile.command = kIdentifyDevice;
        const std::array<uint8_t, sat::kCdb12Length> cdb = sat::buildCdb12(identify);
        std::array<uint8_t, sat::kIdentifyDataLength> data{};
        std::array<uint8_t, 32> sense{};
        const ScsiOutcome outcome = usb_bridge::sendScsi(disk.fd(), usb_bridge::readRequest(cdb, data, sense));
        if (outcome.systemError != 0) {
            // Clears what the failed request may have left pending on the bridge.
            const std::array<uint8_t, 6> testUnitReady{};
            ScsiRequest ready;
            ready.cdb = testUnitReady;
            ready.timeoutNs = usb_bridge::kFixedTimeoutNs;
            (void)usb_bridge::sendScsi(disk.fd(), ready);
            return false;
        }
        if (outcome.status != usb_bridge::kScsiGood || outcome.transferred != data.size() ||
            !sat::isIdentifyDeviceData(data))
            return false;
        probedVersion_ = configured_ ? *configured_ : inquiredVersion(disk);
        return true;
    }

    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo& info, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        const bool usb = (info.info.flags & DRIVE_INFO_BUS_USB) != 0;
        return std::make_unique<SatUnit>(*this, resource, std::move(path), std::move(disk), usb, probedVersion_);
    }

private:
    static sat::Version inquiredVersion(const passthrough::OpenDisk& disk) {
        const std::array<uint8_t, 6> cdb = {kInquiry, 0, 0, 0, static_cast<uint8_t>(kInquiryLength), 0};
        std::array<uint8_t, kInquiryLength> reply{};
        std::array<uint8_t, 32> sense{};
        const ScsiOutcome outcome = usb_bridge::sendScsi(disk.fd(), usb_bridge::readRequest(cdb, reply, sense));
        if (outcome.systemError != 0 || outcome.status != usb_bridge::kScsiGood) return sat::Version::Sat2;
        return sat::versionFromInquiry({reply.data(), outcome.transferred});
    }

    std::optional<sat::Version> configured_;
    // Set by probe() for the createUnit() that follows it; both run under the
    // plug-in's lock.
    sat::Version probedVersion_ = sat::Version::Sat2;
};

SatPlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* settings, CvError* error) {
    std::optional<sat::Version> version;
    if (settings != nullptr) {
        const char* text = StringMap_GetString(settings, kVersionKey, "SAT2");
        version = sat::parseVersion(text);
        if (!version)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unknown ATA fixed sense data version: '%s'", text);
    }
    g_plugin.configure(version);
    return g_plugin.load(error);
}

int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace
}  // namespace sat_plugin

CV_DEFINE_PLUGIN("SAT Plugin", "Provides raw access to certain USB ATA targets using the passthru protocol SAT",
                 "1.12.7.3", "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 sat_plugin::load, sat_plugin::unload);
