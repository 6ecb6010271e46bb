// cvpl-scsi: "scsi/device" on every disk of the OS devices plug-in that answers
// INQUIRY through SG_IO.
#include <corvane.h>

#include "scsi_unit.h"
#include "sg_pass_through.h"

namespace scsi_plugin {
namespace {

constexpr uint64_t kProbeTimeoutNs = 60000000000ull;

class ScsiPlugin final : public passthrough::DiskPlugin {
public:
    ScsiPlugin() : DiskPlugin(SCSI_DEVICE_SERVICE_TYPE, "SCSI") {}

    void bind() { hostPort_ = bindHostPort(); }
    void release() {
        hostPort_ = HostPort{};
        releaseHostPort();
    }

protected:
    bool acceptsNode(CvUID resource, const OsDriveInfo& info) override {
        if (info.nodeType >= 1 && info.nodeType <= 3) return true;
        CvLog(CV_LOG_WARNING, "unrecognized node type for resource %d - type: %d", static_cast<int>(resource),
              static_cast<int>(info.nodeType));
        return false;
    }

    bool probe(const passthrough::OpenDisk& disk) override {
        static const uint8_t kInquiry[6] = {0x12, 0, 0, 0, 96, 0};
        uint8_t data[96] = {};
        SgCommand request;
        request.cdb = kInquiry;
        request.cdbLength = sizeof kInquiry;
        request.direction = SCSI_DIRECTION_IN;
        request.data = data;
        request.length = sizeof data;
        request.timeoutNs = kProbeTimeoutNs;
        SgOutcome outcome = runSgCommand(disk.fd(), request);
        return outcome.systemError == 0 && outcome.status == 0;
    }

    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo& info, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        return std::make_unique<ScsiUnit>(*this, resource, info.info, hostPort_, std::move(path), std::move(disk));
    }

private:
    HostPort hostPort_;
};

ScsiPlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* /*settings*/, CvError* error) {
    g_plugin.bind();
    return g_plugin.load(error);
}

int unload(CvError* error) {
    if (!g_plugin.unload(error)) return 0;
    g_plugin.release();
    return 1;
}

}  // namespace
}  // namespace scsi_plugin

CV_DEFINE_PLUGIN("SCSI Plugin", "Provides raw access to SCSI targets using SCSI_PASS_THROUGH_DIRECT", "1.12.4.0",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 scsi_plugin::load, scsi_plugin::unload);
