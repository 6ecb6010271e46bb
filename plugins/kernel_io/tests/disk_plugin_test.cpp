// Attaching a pass-through service to a disk offered twice at once: by a
// plug-in's own walk of the resources and by the disk's resource-added event
// on the framework's work thread.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "kernel_io/disk_plugin.h"
#include "passthrough_fixture.h"
#include "simdrive/ata_drive.h"

namespace {

class IdleUnit final : public passthrough::DiskUnit {
public:
    using DiskUnit::DiskUnit;
    int execute(CvCommand*, CvError* error) override { return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "idle"); }
};

// Holds the first attachment inside its probe until the second one has passed
// the "no service yet" check, so both race for the one disk.
class RacingPlugin final : public passthrough::DiskPlugin {
public:
    RacingPlugin() : DiskPlugin("test/device", "test") {}

    void waitUntil(int checks, bool firstProbing) {
        std::unique_lock lock(gate_);
        changed_.wait(lock, [&] { return checks_ >= checks && probing_ == firstProbing; });
    }
    void releaseFirstProbe() {
        std::lock_guard lock(gate_);
        released_ = true;
        changed_.notify_all();
    }
    int probes() {
        std::lock_guard lock(gate_);
        return probes_;
    }

protected:
    bool acceptsNode(CvUID, const OsDriveInfo&) override {
        std::lock_guard lock(gate_);
        ++checks_;
        changed_.notify_all();
        return true;
    }
    bool probe(const passthrough::OpenDisk&) override {
        std::unique_lock lock(gate_);
        if (++probes_ == 1) {
            probing_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
            probing_ = false;
        }
        return true;
    }
    std::unique_ptr<passthrough::DiskUnit> createUnit(CvUID resource, const OsDriveInfo&, std::string path,
                                                      std::shared_ptr<passthrough::OpenDisk> disk) override {
        return std::make_unique<IdleUnit>(*this, resource, std::move(path), std::move(disk));
    }

private:
    std::mutex gate_;
    std::condition_variable changed_;
    int checks_ = 0;
    int probes_ = 0;
    bool probing_ = false;
    bool released_ = false;
};

class DiskPluginTest : public passthrough_test::PassThroughTest {};

TEST_F(DiskPluginTest, ADiskOfferedTwiceAtOnceGetsOneService) {
    addDrive<simdrive::AtaDrive>("/dev/sda", "kind=ata; model=VT-2000; serial=RACE001; revision=VT01");
    RacingPlugin plugin;
    CvError error{};
    ASSERT_EQ(1, plugin.load(&error)) << error.message;

    // The event of the new disk attaches on the work thread and stops in the probe.
    passthrough_test::FakeDisk& disk = publish("/dev/sda");
    plugin.waitUntil(1, true);
    // The walk of a loading plug-in offers the same disk meanwhile.
    std::thread walk([&] { plugin.attach(disk.resource()); });
    plugin.waitUntil(2, true);
    plugin.releaseFirstProbe();
    walk.join();
    drainEvents();

    EXPECT_EQ(1, plugin.probes());
    ASSERT_EQ(1u, plugin.services().size());
    EXPECT_EQ(plugin.services()[0].second, serviceOf(disk.resource(), "test/device"));
    EXPECT_EQ(1u, disk.listenerCount());
    ASSERT_EQ(1, plugin.unload(&error)) << error.message;
    EXPECT_EQ(0u, disk.listenerCount());
}

}  // namespace
