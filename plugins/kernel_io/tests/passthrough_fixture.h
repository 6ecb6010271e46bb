// What the pass-through plug-in tests share: the framework started with the
// simulated kernel behind the seam, "os/driveinfo" resources registered the
// way the OS devices plug-in registers them (with its listener protocol), and
// helpers to run commands on a service.
#pragma once

#include <corvane.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/os_driveinfo.h"
#include "log_capture.h"
#include "sim_kernel.h"

namespace passthrough_test {

// The directory that stands for "/" when the plug-ins under test read sysfs:
// empty unless a test lays out a tree in it (and removes it again).
const std::filesystem::path& sysfsRoot();

// A disk as the OS devices plug-in publishes it.
class FakeDisk {
public:
    FakeDisk(std::string path, const DriveInfoBlock& block, int32_t nodeType);
    ~FakeDisk();
    FakeDisk(const FakeDisk&) = delete;
    FakeDisk& operator=(const FakeDisk&) = delete;

    CvUID resource() const { return resource_; }
    std::size_t listenerCount() const;
    // Tells every listener that the disk has gone, or has come back at path.
    void depart();
    void arrive(const std::string& path);
    // Unregisters the resource (its services go with it).
    void unregister();

private:
    static void addListener(void* owner, DriveListener* listener);
    static void removeListener(void* owner, DriveListener* listener);

    mutable std::mutex mutex_;
    std::string path_;
    DriveInfoBlock block_{};
    std::vector<DriveListener*> listeners_;
    CvUID resource_ = CV_UID_NONE;
};

class PassThroughTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A simulated drive behind a device node.
    template <typename Drive>
    Drive* addDrive(const std::string& node, const std::string& description);
    // A further node of a drive added before, as the second port of a dual-ported disk.
    void addNodeOf(const simdrive::SimDrive* drive, const std::string& node);
    FakeDisk& publish(const std::string& path, uint32_t flags = 0, int32_t nodeType = OS_DRIVE_NODE_TYPE);
    FakeDisk& publish(const std::string& path, const DriveInfoBlock& block);

    CvUID loadPlugin(const char* name);
    void unloadPlugin(CvUID plugin);
    // Waits until every hot-plug event queued so far has been delivered.
    static void drainEvents();
    // The service of that type on the resource, or CV_UID_NONE.
    static CvUID serviceOf(CvUID resource, const char* type);

    struct Outcome {
        int result = 0;
        CvError error{};
    };
    static Outcome run(CvUID resource, CvUID service, uint8_t function, void* block, uint32_t blockLength,
                       void* data = nullptr, uint32_t dataLength = 0);

    simdrive::SimKernel& kernel() { return simdrive::SimKernel::instance(); }
    std::unique_ptr<corvane_test::LogCapture> log_;
    bool has(int level, const std::string& message) const;
    bool anyAtLevel(int level) const;

private:
    std::vector<std::unique_ptr<FakeDisk>> disks_;
    std::vector<std::shared_ptr<simdrive::SimDrive>> drives_;
};

template <typename Drive>
Drive* PassThroughTest::addDrive(const std::string& node, const std::string& text) {
    simdrive::DriveDescription description;
    simdrive::DescriptionError problem;
    if (!simdrive::parseDriveDescriptionText(text, description, problem)) {
        ADD_FAILURE() << problem.message();
        return nullptr;
    }
    std::string error;
    std::shared_ptr<simdrive::SimDrive> drive = simdrive::createDrive(description, nullptr, error);
    if (!drive) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    kernel().addNode(node, drive);
    drives_.push_back(drive);
    return dynamic_cast<Drive*>(drive.get());
}

}  // namespace passthrough_test
