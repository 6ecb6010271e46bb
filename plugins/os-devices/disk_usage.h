// What depends on a disk's data. Linux has no volume objects of its own, so the
// volumes on a disk are the block devices that carry its data: its partitions
// and every device-mapper or md device that holds the disk or one of its
// partitions (followed through stacked holders). Besides the mount table, a
// disk is in use when the kernel itself depends on it: swap, a device-mapper
// or md device built on it (an active LVM volume group, an md array, a
// dm-crypt mapping), a mounted btrfs that spans several devices (the mount
// table names only one of them), an imported ZFS pool, or any other holder
// that opened it exclusively.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "system_interface.h"

namespace os_devices {

// The block devices stacked on a disk, found through sysfs.
struct DiskVolumes {
    std::vector<std::string> partitions; // kernel names, "sda1"
    std::vector<std::string> holders;    // kernel names, "dm-0", "md127"
};

DiskVolumes FindVolumes(SystemInterface& system, const std::string& sysName);

// True when the mount table (text of /proc/self/mountinfo) has a mount whose
// device number is "major:minor" or whose source is devNode.
bool IsMounted(const std::string& mountInfo, const std::string& deviceNumber, const std::string& devNode);

// True when the swap table (text of /proc/swaps) has devNode as active swap
// space. A swap partition is in use like a mounted file system, though the
// mount table never lists it.
bool IsActiveSwap(const std::string& swaps, const std::string& devNode);

// Why a disk is in use, or an empty reason when nothing depends on it.
// `doubtful` marks a disk refused because the system could not be asked
// (the mount table cannot be read): it may be in use, and is treated as such.
struct DiskUse {
    std::string reason;
    bool doubtful = false;
    explicit operator bool() const { return !reason.empty(); }
};

DiskUse FindUse(SystemInterface& system, const std::string& sysName, const DiskVolumes& volumes);

// The other whole disks through which the kernel reaches the same drive: the
// other namespaces of an NVMe controller or subsystem ("nvme0n2" beside
// "nvme0n1"), which share its firmware and go down with it when it activates,
// and the second port of a dual-ported disk, which reports the same device
// identifier ("device/wwid") and carries the same data.
std::vector<std::string> OtherDisksOfTheDrive(SystemInterface& system, const std::string& sysName);

}  // namespace os_devices
