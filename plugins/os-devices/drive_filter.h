// Which disks the plug-in leaves out: in the default mode every disk whose data
// something depends on (see disk_usage.h), or whose drive is in use through
// another of its disks; a file system or swap made on the whole disk counts as
// a mounted volume on it as well.
#pragma once

#include <string>

#include "disk_usage.h"
#include "system_interface.h"

namespace os_devices {

enum class FilterMode : int {
    AllowAll = 0,                    // "AllowAll"
    IgnoreIfItHasVolumes = 1,        // "IgnoreIfItHasVolumes"
    IgnoreIfItHasMountedVolumes = 2, // "IgnoreIfItHasMountedVolumes"
};

// Parses a "DriveFilter" value, without regard to case.
bool ParseFilterMode(const char* text, FilterMode& mode);

// True when the disk is to be left out in this mode; logs why.
bool IsFilteredOut(SystemInterface& system, FilterMode mode, const std::string& sysName);

}  // namespace os_devices
