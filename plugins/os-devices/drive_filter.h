// Which disks the plug-in leaves out. Linux has no volume objects of its own, so
// the volumes on a disk are the block devices that carry its data: its
// partitions and every device-mapper or md device that holds the disk or one of
// its partitions (followed through stacked holders). A volume is mounted when the
// mount table names its device number or its node as the source of a mount, or
// when it is active swap space; a file system (or swap) made on the whole disk
// counts as a mounted volume on it as well.
#pragma once

#include <string>
#include <vector>

#include "system_interface.h"

namespace os_devices {

enum class FilterMode : int {
    AllowAll = 0,                    // "AllowAll"
    IgnoreIfItHasVolumes = 1,        // "IgnoreIfItHasVolumes"
    IgnoreIfItHasMountedVolumes = 2, // "IgnoreIfItHasMountedVolumes"
};

// Parses a "DriveFilter" value, without regard to case.
bool ParseFilterMode(const char* text, FilterMode& mode);

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

// True when the disk is to be left out in this mode.
bool IsFilteredOut(SystemInterface& system, FilterMode mode, const std::string& sysName);

}  // namespace os_devices
