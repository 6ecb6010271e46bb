// Reading the kernel's queue limits from a sysfs tree laid out as Linux lays
// it out (a copy in a temporary directory, never this machine's own).
#include <gtest/gtest.h>

#include <fstream>

#include "queue_limit.h"
#include "sim_test_support.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kPage = 4096;

void queue(const fs::path& device, const char* maxHwSectorsKb, const char* maxSegments) {
    fs::create_directories(device / "queue");
    std::ofstream(device / "queue" / "max_hw_sectors_kb") << maxHwSectorsKb << "\n";
    if (maxSegments != nullptr) std::ofstream(device / "queue" / "max_segments") << maxSegments << "\n";
}

TEST(QueueLimit, DisksPartitionsControllersAndGenericNodes) {
    simdrive::test::TempDir sys;
    const fs::path devices = sys.path() / "devices";

    // A USB disk: 120 KiB, many segments. Its partition has the disk's queue.
    const fs::path sda = devices / "usb" / "sda";
    queue(sda, "120", "2048");
    fs::create_directories(sda / "sda1");
    std::ofstream(sda / "sda1" / "partition") << "1\n";
    EXPECT_EQ(120u * 1024, passthrough::deviceDirectoryLimit(sda, kPage));
    EXPECT_EQ(120u * 1024, passthrough::deviceDirectoryLimit(sda / "sda1", kPage));

    // An NVMe controller: the tightest of its namespaces and paths, each bound
    // by one page a segment; links beside them (its subsystem) are not its own.
    const fs::path nvme0 = devices / "pci" / "nvme" / "nvme0";
    queue(nvme0 / "nvme0n1", "512", "127");
    queue(nvme0 / "nvme0c0n2", "1024", "255");
    queue(devices / "elsewhere", "4", "1");
    fs::create_directory_symlink(devices / "elsewhere", nvme0 / "subsystem");
    EXPECT_EQ(127u * kPage, passthrough::deviceDirectoryLimit(nvme0, kPage));

    // A SCSI generic node reaches the disk of its SCSI device; no segment count
    // means the sector limit alone.
    const fs::path scsiDevice = devices / "scsi" / "0:0:0:0";
    queue(scsiDevice / "block" / "sdb", "32767", nullptr);
    fs::create_directories(sys.path() / "class" / "sg0");
    fs::create_directory_symlink(scsiDevice, sys.path() / "class" / "sg0" / "device");
    EXPECT_EQ(32767u * 1024, passthrough::deviceDirectoryLimit(sys.path() / "class" / "sg0", kPage));

    // Nothing readable: no limit known.
    queue(devices / "broken", "none", "8");
    EXPECT_EQ(0u, passthrough::deviceDirectoryLimit(devices / "broken", kPage));
    EXPECT_EQ(0u, passthrough::deviceDirectoryLimit(devices / "missing", kPage));
}

}  // namespace
