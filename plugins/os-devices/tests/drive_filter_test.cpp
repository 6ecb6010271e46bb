// The drive filters answered from sysfs and the mount table.
#include <gtest/gtest.h>

#include <algorithm>

#include "drive_filter.h"
#include "fake_system.h"
#include "log_capture.h"

namespace {

using os_devices::FilterMode;
using os_devices::IsFilteredOut;
using corvane_test::LogCapture;
using os_devices_test::FakeSystem;

// sda: nothing on it. sdb: an unmounted partition. sdc: a mounted partition.
// sdd: a partition held by device-mapper, whose mapping is mounted. sde: a
// device-mapper holder that is not mounted. sdf: a file system on the whole disk.
// sdg: an md array on the whole disk, mounted through a second md layer.
class DriveFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.AddDisk("sda", 8, 0, "id-a");
        system.AddDisk("sdb", 8, 16, "id-b");
        system.AddPartition("sdb", "sdb1", 8, 17);
        system.AddDisk("sdc", 8, 32, "id-c");
        system.AddPartition("sdc", "sdc1", 8, 33);
        system.AddPartition("sdc", "sdc2", 8, 34);
        system.Mount("8:34", "/dev/sdc2");
        system.AddDisk("sdd", 8, 48, "id-d");
        system.AddPartition("sdd", "sdd1", 8, 49);
        system.AddHolder("sdd1", "dm-0", 254, 0);
        system.Mount("254:0", "/dev/mapper/vg-root");
        system.AddDisk("sde", 8, 64, "id-e");
        system.AddHolder("sde", "dm-1", 254, 1);
        system.AddDisk("sdf", 8, 80, "id-f");
        system.Mount("8:80", "/dev/sdf");
        system.AddDisk("sdg", 8, 96, "id-g");
        system.AddHolder("sdg", "md0", 9, 0);
        system.AddHolder("md0", "md1", 9, 1);
        system.Mount("9:1", "/dev/md1");
    }

    bool Filtered(FilterMode mode, const char* disk) { return IsFilteredOut(system, mode, disk); }

    // Up for the log capture.
    struct Framework {
        Framework() { CvInitialize(); }
        ~Framework()
        {
            CvError error{};
            CvUninitialize(&error);
        }
    } framework;
    FakeSystem system;
};

TEST_F(DriveFilterTest, AllowAllKeepsEveryDisk)
{
    for (const char* disk : {"sda", "sdb", "sdc", "sdd", "sde", "sdf", "sdg"})
        EXPECT_FALSE(Filtered(FilterMode::AllowAll, disk)) << disk;
}

TEST_F(DriveFilterTest, IgnoreIfItHasVolumesDropsEveryDiskWithAPartitionHolderOrMount)
{
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasVolumes, "sda"));
    for (const char* disk : {"sdb", "sdc", "sdd", "sde", "sdf", "sdg"})
        EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasVolumes, disk)) << disk;
}

// An unmounted device-mapper holder (sde) is an active mapping: its data is in use.
TEST_F(DriveFilterTest, IgnoreIfItHasMountedVolumesDropsOnlyDisksInUse)
{
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sda"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdb"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdc"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdd"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sde"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdf"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdg"));
}

// Members whose data a volume manager or a multi-device file system depends
// on, though the mount table names none of them: an LVM physical volume of an
// active group with nothing mounted, a member of an md array that is not
// mounted, the second device of a btrfs mounted from the first, a partition of
// an imported ZFS pool, and a disk some other kernel user holds exclusively.
TEST_F(DriveFilterTest, MembersOfVolumeManagersAndMultiDeviceFileSystemsCountAsMountedVolumes)
{
    LogCapture log;
    system.AddDisk("sdj", 8, 144, "lvm-pv");
    system.AddPartition("sdj", "sdj1", 8, 145);
    system.AddHolder("sdj1", "dm-3", 254, 3);
    system.AddDisk("sdk", 8, 160, "md-member");
    system.AddHolder("sdk", "md127", 9, 127);
    system.AddDisk("sdl", 8, 176, "btrfs-first");
    system.AddDisk("sdm", 8, 192, "btrfs-second");
    system.Mount("0:45", "/dev/sdl");
    system.directories["/sys/fs/btrfs/"] = {"features", "4f3c-uuid"};
    system.directories["/sys/fs/btrfs/4f3c-uuid/devices"] = {"sdl", "sdm"};
    system.AddDisk("sdn", 8, 208, "zfs-imported");
    system.AddPartition("sdn", "sdn1", 8, 209);
    system.AddPartition("sdn", "sdn9", 8, 217);
    system.SetProperty("sdn1", "ID_FS_TYPE", "zfs_member");
    system.SetProperty("sdn1", "ID_FS_LABEL", "tank");
    system.directories["/proc/spl/kstat/zfs/"] = {"arcstats", "tank"};
    system.files["/proc/spl/kstat/zfs/tank/state"] = "ONLINE\n";
    system.AddDisk("sdo", 8, 224, "zfs-exported");
    system.AddPartition("sdo", "sdo1", 8, 225);
    system.SetProperty("sdo1", "ID_FS_TYPE", "zfs_member");
    system.SetProperty("sdo1", "ID_FS_LABEL", "backup");
    system.AddDisk("sdp", 8, 240, "claimed");
    system.Claim("/dev/sdp");

    for (const char* disk : {"sdj", "sdk", "sdl", "sdm", "sdn", "sdp"})
        EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, disk)) << disk;
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdo"));
    for (const char* disk : {"sdj", "sdk", "sdl", "sdm", "sdn", "sdo", "sdp"})
        EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasVolumes, disk)) << disk;

    // Each refusal says why, at information level.
    const auto lines = log.lines();
    for (const char* reason : {"Leaving out /dev/sdj: dm-3 is built on it",
                               "Leaving out /dev/sdk: md127 is built on it",
                               "Leaving out /dev/sdm: sdm belongs to the mounted btrfs file system 4f3c-uuid",
                               "Leaving out /dev/sdn: sdn1 belongs to the imported ZFS pool tank",
                               "Leaving out /dev/sdp: sdp is held exclusively by the kernel"})
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), corvane_test::LogLine{CV_LOG_INFO, reason}))
            << reason;

    // A member label without a pool name cannot be told from a member of the pool that is imported.
    system.SetProperty("sdo1", "ID_FS_LABEL", "");
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdo"));
}

// A drive reached through several disks is in use when one of them is: the
// second port of a dual-ported disk whose first port has a mounted partition,
// and a namespace of an NVMe drive whose other namespace is mounted. A disk
// with another identifier, and another NVMe drive, stay.
TEST_F(DriveFilterTest, DiskOfADriveInUseThroughAnotherOfItsDisksIsLeftOut)
{
    LogCapture log;
    system.AddDisk("sdq", 65, 0, "id-c-second-port");
    system.files["/sys/class/block/sdc/device/wwid"] = "naa.5000c500a1b2c3d4\n";
    system.files["/sys/class/block/sdq/device/wwid"] = "naa.5000c500a1b2c3d4\n";
    system.files["/sys/class/block/sda/device/wwid"] = "naa.5000c500deadbeef\n";
    system.AddDisk("nvme0n1", 259, 0, "nvme-first");
    system.AddDisk("nvme0n2", 259, 1, "nvme-second");
    system.AddDisk("nvme1n1", 259, 2, "nvme-other");
    system.Mount("259:1", "/dev/nvme0n2");
    system.directories["/sys/block"] = {"sda", "sdc", "sdq", "nvme0n1", "nvme0n2", "nvme0c0n1", "nvme1n1"};

    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdq"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "nvme0n1"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sda"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "nvme1n1"));
    const auto lines = log.lines();
    for (const char* reason : {"Leaving out /dev/sdq: its drive is in use through sdc (sdc2 is mounted)",
                               "Leaving out /dev/nvme0n1: its drive is in use through nvme0n2 (nvme0n2 is mounted)"})
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), corvane_test::LogLine{CV_LOG_INFO, reason}))
            << reason;
}

// When the mount table cannot be read nothing can be shown to be unused:
// every disk is left out, and the failed check is logged as an error.
TEST_F(DriveFilterTest, UnreadableMountTableLeavesEveryDiskOut)
{
    LogCapture log;
    system.files.erase("/proc/self/mountinfo");
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sda"));
    EXPECT_FALSE(Filtered(FilterMode::AllowAll, "sda"));
    const auto lines = log.lines();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     corvane_test::LogLine{CV_LOG_ERROR,
                                                           "Leaving out /dev/sda: the mount table cannot be read"}));
}

TEST_F(DriveFilterTest, VolumesFollowStackedHoldersOnce)
{
    system.AddHolder("md1", "md0", 9, 0);  // a loop in sysfs must not hang the walk
    const auto volumes = os_devices::FindVolumes(system, "sdg");
    EXPECT_TRUE(volumes.partitions.empty());
    EXPECT_EQ((std::vector<std::string>{"md0", "md1"}), volumes.holders);
    EXPECT_EQ((std::vector<std::string>{"sdc1", "sdc2"}), os_devices::FindVolumes(system, "sdc").partitions);
}

TEST(MountTableTest, MatchesTheDeviceNumberOrTheSource)
{
    const std::string table = "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                              "30 26 0:45 / /data rw - btrfs /dev/sdb1 rw\n"
                              "31 26 0:46 / /tmp rw - tmpfs tmpfs rw\n";
    EXPECT_TRUE(os_devices::IsMounted(table, "254:0", "/dev/vda"));
    EXPECT_TRUE(os_devices::IsMounted(table, "8:17", "/dev/sdb1"));
    EXPECT_FALSE(os_devices::IsMounted(table, "8:0", "/dev/sda"));
    EXPECT_FALSE(os_devices::IsMounted("garbage\n\n", "8:0", "/dev/sda"));
}

// Active swap is in use like a mounted file system although the mount table
// never lists it: a swap partition, and swap on a device-mapper holder.
TEST_F(DriveFilterTest, ActiveSwapCountsAsAMountedVolume)
{
    system.AddDisk("sdh", 8, 112, "id-h");
    system.AddPartition("sdh", "sdh2", 8, 114);
    system.AddDisk("sdi", 8, 128, "id-i");
    system.AddHolder("sdi", "dm-2", 254, 2);
    system.files["/proc/swaps"] = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                                  "/dev/sdh2                               partition\t8388604\t\t0\t\t-2\n"
                                  "/dev/dm-2                               partition\t1048572\t\t0\t\t-3\n"
                                  "/swapfile                               file\t\t1048572\t\t0\t\t-4\n";
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdh"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdi"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdb"));
    // The heading names no device, even one called "Filename".
    EXPECT_FALSE(os_devices::IsActiveSwap("Filename Type Size Used Priority\n", "Filename"));
}

TEST(FilterModeTest, ParsesTheThreeNamesWithoutRegardToCase)
{
    FilterMode mode{};
    ASSERT_TRUE(os_devices::ParseFilterMode("allowall", mode));
    EXPECT_EQ(FilterMode::AllowAll, mode);
    ASSERT_TRUE(os_devices::ParseFilterMode("IGNOREIFITHASVOLUMES", mode));
    EXPECT_EQ(FilterMode::IgnoreIfItHasVolumes, mode);
    ASSERT_TRUE(os_devices::ParseFilterMode("IgnoreIfItHasMountedVolumes", mode));
    EXPECT_EQ(FilterMode::IgnoreIfItHasMountedVolumes, mode);
    EXPECT_FALSE(os_devices::ParseFilterMode("Mounted", mode));
}

}  // namespace
