// The drive filters answered from sysfs and the mount table.
#include <gtest/gtest.h>

#include "drive_filter.h"
#include "fake_system.h"

namespace {

using os_devices::FilterMode;
using os_devices::IsFilteredOut;
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

TEST_F(DriveFilterTest, IgnoreIfItHasMountedVolumesDropsOnlyDisksWithSomethingMounted)
{
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sda"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdb"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdc"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdd"));
    EXPECT_FALSE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sde"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdf"));
    EXPECT_TRUE(Filtered(FilterMode::IgnoreIfItHasMountedVolumes, "sdg"));
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
