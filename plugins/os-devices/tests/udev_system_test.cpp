// The libudev adapter and the plug-in over it, against a sysfs/udev tree faked
// by umockdev: enumeration, the drive filter reading the faked sysfs, and
// "add"/"remove" uevents reaching the plug-in's monitor.
//
// umockdev works through a preloaded library. The program starts itself again
// with that library preloaded when it is not (for CTest and gtest discovery);
// sanitizer builds cannot preload it in front of their runtime and skip.
#include <corvane.h>
#include <gtest/gtest.h>
#include <umockdev.h>

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "os_devices.h"
#include "udev_system.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UDEV_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UDEV_TEST_SANITIZED 1
#endif
#endif
#ifndef UDEV_TEST_SANITIZED
#define UDEV_TEST_SANITIZED 0
#endif

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

bool Preloaded()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "umockdev") != nullptr;
}

// Runs before main: start again with the preload library when it is missing.
__attribute__((constructor)) void PreloadUmockdev(int, char** argv, char**)
{
    if (UDEV_TEST_SANITIZED) return;
    if (Preloaded()) return;
    const char* preload = std::getenv("LD_PRELOAD");
    std::string value = kPreload;
    if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
}

// Waits for hot-plug events of the framework and for the listener of one disk.
struct EventWatch {
    std::mutex mutex;
    std::condition_variable changed;
    int added = 0;
    int removed = 0;
    CvHotplugListener listener{};

    EventWatch()
    {
        listener.userData = this;
        listener.resourceAdded = [](void* self, CvUID, const CvResourceInfo*) {
            auto* watch = static_cast<EventWatch*>(self);
            std::lock_guard lock(watch->mutex);
            ++watch->added;
            watch->changed.notify_all();
        };
        listener.resourceRemoved = [](void* self, CvUID) {
            auto* watch = static_cast<EventWatch*>(self);
            std::lock_guard lock(watch->mutex);
            ++watch->removed;
            watch->changed.notify_all();
        };
        CvHotplugEventManager_AddListener(&listener);
    }
    ~EventWatch() { CvHotplugEventManager_RemoveListener(&listener); }
    template <typename Predicate>
    void Wait(Predicate done)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, done);
    }
};

// A disk listener that counts departures and returns.
struct DepartureWatch {
    std::mutex mutex;
    std::condition_variable changed;
    int departed = 0;
    int returned = 0;
    std::string path;
    DriveListener listener{this, [](void* self, int32_t arrived, const char* notified, const DriveInfoBlock*) {
                               auto* watch = static_cast<DepartureWatch*>(self);
                               std::lock_guard lock(watch->mutex);
                               (arrived != 0 ? watch->returned : watch->departed)++;
                               watch->path = notified;
                               watch->changed.notify_all();
                           }};
    template <typename Predicate>
    void Wait(Predicate done)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, done);
    }
};

class UdevSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (UDEV_TEST_SANITIZED || !Preloaded()) GTEST_SKIP() << "umockdev's preload library is not active";
        testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment());
        // umockdev serves the /proc files its root holds and passes the rest
        // through: give the filter an empty mount and swap table, never this
        // machine's own.
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        const std::string base = root;
        g_free(root);
        g_mkdir_with_parents((base + "/proc/self").c_str(), 0755);
        g_file_set_contents((base + "/proc/self/mountinfo").c_str(), "", 0, nullptr);
        g_file_set_contents((base + "/proc/swaps").c_str(), "Filename\tType\tSize\tUsed\tPriority\n", -1, nullptr);
    }
    void TearDown() override
    {
        if (testbed != nullptr) g_object_unref(testbed);
    }

    // A SATA disk "sdX" behind a PCI controller, with an optional USB ancestor.
    std::string AddDisk(const char* name, const char* major, const char* minor, const char* id, bool usb = false)
    {
        const std::string number = std::string(major) + ":" + minor;
        // The node first, so that the "add" uevent umockdev sends finds it: umockdev
        // serves /dev from the testbed's root directory.
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        const std::string dev = std::string(root) + "/dev";
        g_free(root);
        g_mkdir_with_parents(dev.c_str(), 0755);
        g_file_set_contents((dev + "/" + name).c_str(), "", 0, nullptr);
        gchar* parent = nullptr;
        if (usb) parent = umockdev_testbed_add_device(testbed, "usb", "usb1", nullptr, "idVendor", "1234", nullptr,
                                                      "DEVTYPE", "usb_device", nullptr);
        gchar* path = umockdev_testbed_add_device(testbed, "block", name, parent, "dev", number.c_str(), "size", "1024",
                                                  nullptr, "DEVTYPE", "disk", "DEVNAME", name, "MAJOR", major, "MINOR",
                                                  minor, "DEVLINKS", id, nullptr);
        std::string syspath = path;
        g_free(path);
        g_free(parent);
        return syspath;
    }
    std::string AddPartition(const std::string& disk, const char* name, const char* major, const char* minor)
    {
        const std::string number = std::string(major) + ":" + minor;
        gchar* path = umockdev_testbed_add_device(testbed, "block", name, disk.c_str(), "dev", number.c_str(),
                                                  "partition", "1", nullptr, "DEVTYPE", "partition", "DEVNAME", name,
                                                  "MAJOR", major, "MINOR", minor, nullptr);
        std::string syspath = path;
        g_free(path);
        return syspath;
    }

    UMockdevTestbed* testbed = nullptr;
};

TEST_F(UdevSystemTest, EnumeratesWholeDisksWithTheirIdentityBusAndNumber)
{
    const std::string sda = AddDisk("sda", "8", "0", "/dev/disk/by-path/pci-0 /dev/disk/by-id/wwn-0x5 /dev/disk/by-id/ata-M_S");
    AddPartition(sda, "sda1", "8", "1");
    AddDisk("sdb", "8", "16", "/dev/disk/by-id/usb-Maker_Stick", true);

    os_devices::UdevSystem system;
    std::vector<os_devices::DiskEntry> disks;
    std::string problem;
    ASSERT_TRUE(system.EnumerateDisks(disks, problem)) << problem;
    ASSERT_EQ(2u, disks.size());
    const auto& first = disks[0].sysName == "sda" ? disks[0] : disks[1];
    const auto& second = disks[0].sysName == "sda" ? disks[1] : disks[0];
    EXPECT_EQ("/dev/sda", first.devNode);
    EXPECT_EQ("/dev/disk/by-id/ata-M_S", first.identity);
    EXPECT_EQ(8u, first.major);
    EXPECT_EQ(0u, first.minor);
    EXPECT_NE("usb", first.bus);
    EXPECT_EQ("usb", second.bus);
    EXPECT_EQ(16u, second.minor);
    EXPECT_TRUE(system.CanOpen("/dev/sda"));

    const auto volumes = os_devices::FindVolumes(system, "sda");
    EXPECT_EQ((std::vector<std::string>{"sda1"}), volumes.partitions);
    EXPECT_TRUE(os_devices::IsFilteredOut(system, os_devices::FilterMode::IgnoreIfItHasVolumes, "sda"));
    EXPECT_FALSE(os_devices::IsFilteredOut(system, os_devices::FilterMode::IgnoreIfItHasVolumes, "sdb"));

    // The mount table read is the testbed's.
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    g_file_set_contents((std::string(root) + "/proc/self/mountinfo").c_str(),
                        "36 1 8:16 / /media rw - vfat /dev/sdb rw\n", -1, nullptr);
    g_free(root);
    EXPECT_TRUE(os_devices::IsFilteredOut(system, os_devices::FilterMode::IgnoreIfItHasMountedVolumes, "sdb"));
}

// What the default filter reads beyond the mount table, as the adapter serves
// it: a udev label of a partition, and a btrfs that spans two disks.
TEST_F(UdevSystemTest, DefaultFilterSeesZfsLabelsAndBtrfsMembers)
{
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string base = root;
    g_free(root);
    g_mkdir_with_parents((base + "/sys/fs/btrfs/4f3c/devices/sdb").c_str(), 0755);
    g_mkdir_with_parents((base + "/proc/spl/kstat/zfs/tank").c_str(), 0755);
    g_file_set_contents((base + "/proc/spl/kstat/zfs/tank/state").c_str(), "ONLINE\n", -1, nullptr);
    const std::string sda = AddDisk("sda", "8", "0", "/dev/disk/by-id/ata-Pool_Member");
    g_free(umockdev_testbed_add_device(testbed, "block", "sda1", sda.c_str(), "dev", "8:1", "partition", "1", nullptr,
                                       "DEVTYPE", "partition", "DEVNAME", "sda1", "ID_FS_TYPE", "zfs_member",
                                       "ID_FS_LABEL", "tank", nullptr));
    AddDisk("sdb", "8", "16", "/dev/disk/by-id/ata-Btrfs_Member");
    AddDisk("sdc", "8", "32", "/dev/disk/by-id/ata-Free");

    os_devices::UdevSystem system;
    EXPECT_EQ("zfs_member", system.DeviceProperty("sda1", "ID_FS_TYPE"));
    EXPECT_EQ("", system.DeviceProperty("sdc", "ID_FS_TYPE"));
    EXPECT_FALSE(system.IsClaimed("/dev/sdc"));
    using os_devices::FilterMode;
    EXPECT_TRUE(os_devices::IsFilteredOut(system, FilterMode::IgnoreIfItHasMountedVolumes, "sda"));
    EXPECT_TRUE(os_devices::IsFilteredOut(system, FilterMode::IgnoreIfItHasMountedVolumes, "sdb"));
    EXPECT_FALSE(os_devices::IsFilteredOut(system, FilterMode::IgnoreIfItHasMountedVolumes, "sdc"));
}

// Stops the plug-in even when an assertion leaves the test early.
struct StopGuard {
    ~StopGuard()
    {
        CvError error{};
        os_devices::Stop(&error);
    }
};

TEST_F(UdevSystemTest, UeventsReachThePlugInThroughItsMonitor)
{
    CvInitialize();
    {
        EventWatch events;
        os_devices::UdevSystem system;
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "ScanTimeout", "-1");
        StringMap_SetValue(settings, "NoPnpDelay", "1");
        StringMap_SetValue(settings, "DriveFilter", "AllowAll");
        CvError error{};
        AddDisk("sda", "8", "0", "/dev/disk/by-id/ata-First");
        StopGuard guard;
        ASSERT_EQ(1, os_devices::Start(system, settings, os_devices::Timing{0, 0, 50}, &error)) << error.message;
        StringMap_Destroy(settings);

        CvUID first = CV_UID_NONE;
        ASSERT_EQ(1, CvResourceManager_LookupResource("device:0", &first, &error));
        ASSERT_NE(CV_UID_NONE, first);
        CvResourceTypeInfo type{};
        ASSERT_EQ(1, CvResource_GetTypeInfo(first, &type, &error));
        auto* info = static_cast<OsDriveInfo*>(type.typeData);
        EXPECT_STREQ("/dev/sda", info->diskPath);
        DepartureWatch departures;
        info->addListener(info->ownerHandle, &departures.listener);

        // Arrival: a new disk appears and its "add" uevent is sent.
        const std::string sdb = AddDisk("sdb", "8", "16", "/dev/disk/by-id/ata-Second");
        umockdev_testbed_uevent(testbed, sdb.c_str(), "add");
        events.Wait([&] { return events.added >= 2; });
        CvUIDList list{};
        ASSERT_EQ(1, CvResourceManager_GetResourceList(&list, &error));
        ASSERT_EQ(2, list.count);
        ASSERT_EQ(1, CvResource_GetTypeInfo(list.uids[1], &type, &error));
        EXPECT_STREQ("/dev/sdb", static_cast<OsDriveInfo*>(type.typeData)->diskPath);

        // Departure: the first disk leaves sysfs; any disk event after that
        // (here one for the second disk, which stays) makes the rescan miss it.
        umockdev_testbed_remove_device(testbed, "/sys/devices/sda");
        umockdev_testbed_uevent(testbed, sdb.c_str(), "remove");
        departures.Wait([&] { return departures.departed == 1; });
        EXPECT_EQ("/dev/sda", departures.path);

        // Return under another name, recognised by its identity.
        AddDisk("sdc", "8", "32", "/dev/disk/by-id/ata-First");
        umockdev_testbed_uevent(testbed, "/sys/devices/sdc", "add");
        departures.Wait([&] { return departures.returned == 1; });
        EXPECT_EQ("/dev/sdc", departures.path);
        CvUID again = CV_UID_NONE;
        ASSERT_EQ(1, CvResourceManager_LookupResource("device:0", &again, &error));
        EXPECT_EQ(first, again);

        ASSERT_EQ(1, os_devices::Stop(&error)) << error.message;
    }
    CvError error{};
    CvUninitialize(&error);
}

TEST_F(UdevSystemTest, PlugInLoadsListsAndUnloadsThroughThePluginManager)
{
    AddDisk("sda", "8", "0", "/dev/disk/by-id/ata-First");
    CvInitialize();
    CvError error{};
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "DriveFilter", "Never");
    CvUID plugin = CV_UID_NONE;
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-os-devices", settings, &plugin, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Unknown drive filter setting: 'Never'", error.message);

    StringMap_SetValue(settings, "DriveFilter", "allowall");
    StringMap_SetValue(settings, "ScanTimeout", "-1");
    ASSERT_EQ(1, CvPluginManager_Load("cvpl-os-devices", settings, &plugin, &error)) << error.message;
    StringMap_Destroy(settings);
    CvPluginInfo info{};
    ASSERT_EQ(1, CvPlugin_GetInfo(plugin, &info, &error));
    EXPECT_STREQ("OS Devices Plugin", info.name);
    EXPECT_STREQ("Provides a list of devices to access", info.description);
    EXPECT_STREQ("1.12.7.3", info.version);
    CvUID disk = CV_UID_NONE;
    ASSERT_EQ(1, CvResourceManager_LookupResource("device:0", &disk, &error));
    ASSERT_NE(CV_UID_NONE, disk);
    CvResourceTypeInfo type{};
    ASSERT_EQ(1, CvResource_GetTypeInfo(disk, &type, &error));
    EXPECT_STREQ("/dev/sda", static_cast<OsDriveInfo*>(type.typeData)->diskPath);

    ASSERT_EQ(1, CvPluginManager_Unload(plugin, &error)) << error.message;
    ASSERT_EQ(1, CvResourceManager_LookupResource("device:0", &disk, &error));
    EXPECT_EQ(CV_UID_NONE, disk);
    CvUninitialize(&error);
}

}  // namespace
