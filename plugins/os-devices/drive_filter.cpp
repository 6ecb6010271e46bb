#include "drive_filter.h"

#include <corvane.h>
#include <strings.h>

namespace os_devices {

bool ParseFilterMode(const char* text, FilterMode& mode)
{
    if (::strcasecmp(text, "AllowAll") == 0) mode = FilterMode::AllowAll;
    else if (::strcasecmp(text, "IgnoreIfItHasVolumes") == 0) mode = FilterMode::IgnoreIfItHasVolumes;
    else if (::strcasecmp(text, "IgnoreIfItHasMountedVolumes") == 0) mode = FilterMode::IgnoreIfItHasMountedVolumes;
    else return false;
    return true;
}

bool IsFilteredOut(SystemInterface& system, FilterMode mode, const std::string& sysName)
{
    if (mode == FilterMode::AllowAll) return false;
    const DiskVolumes volumes = FindVolumes(system, sysName);
    DiskUse use;
    if (mode == FilterMode::IgnoreIfItHasVolumes) {
        if (!volumes.partitions.empty()) use.reason = "it has the partition " + volumes.partitions.front();
        else if (!system.DeviceProperty(sysName, "ID_FS_TYPE").empty()) use.reason = "it carries a file system";
    }
    if (!use) use = FindUse(system, sysName, volumes);
    // An update through this disk reaches the drive behind the others as well.
    for (const std::string& other : use ? std::vector<std::string>{} : OtherDisksOfTheDrive(system, sysName)) {
        const DiskUse otherUse = FindUse(system, other, FindVolumes(system, other));
        if (!otherUse) continue;
        use = {"its drive is in use through " + other + " (" + otherUse.reason + ")", otherUse.doubtful};
        break;
    }
    if (!use) return false;
    // A disk refused only because the system could not be asked is a failed
    // check; one that is in use is an ordinary decision.
    CvLog(use.doubtful ? CV_LOG_ERROR : CV_LOG_INFO, "Leaving out /dev/%s: %s", sysName.c_str(),
          use.reason.c_str());
    return true;
}

}  // namespace os_devices
