#include "drive_filter.h"

#include <strings.h>

#include <set>
#include <sstream>

namespace os_devices {

namespace {

const std::string kClassBlock = "/sys/class/block/";

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
    return text;
}

// "8:1" from /sys/class/block/<name>/dev; empty when unreadable.
std::string DeviceNumberOf(SystemInterface& system, const std::string& name)
{
    const auto text = system.ReadFile(kClassBlock + name + "/dev");
    return text ? Trimmed(*text) : std::string();
}

// Adds the holders of `name` and of everything that holds them, each once.
void CollectHolders(SystemInterface& system, const std::string& name, std::set<std::string>& seen,
                    std::vector<std::string>& holders)
{
    for (const std::string& holder : system.ListDirectory(kClassBlock + name + "/holders")) {
        if (!seen.insert(holder).second) continue;
        holders.push_back(holder);
        CollectHolders(system, holder, seen, holders);
    }
}

}  // namespace

bool ParseFilterMode(const char* text, FilterMode& mode)
{
    if (::strcasecmp(text, "AllowAll") == 0) mode = FilterMode::AllowAll;
    else if (::strcasecmp(text, "IgnoreIfItHasVolumes") == 0) mode = FilterMode::IgnoreIfItHasVolumes;
    else if (::strcasecmp(text, "IgnoreIfItHasMountedVolumes") == 0) mode = FilterMode::IgnoreIfItHasMountedVolumes;
    else return false;
    return true;
}

DiskVolumes FindVolumes(SystemInterface& system, const std::string& sysName)
{
    DiskVolumes volumes;
    // A partition is a subdirectory of the disk's sysfs directory that has a
    // "partition" attribute.
    for (const std::string& entry : system.ListDirectory(kClassBlock + sysName)) {
        if (entry.compare(0, sysName.size(), sysName) != 0 || entry.size() == sysName.size()) continue;
        if (system.ReadFile(kClassBlock + sysName + "/" + entry + "/partition")) volumes.partitions.push_back(entry);
    }
    std::set<std::string> seen;
    CollectHolders(system, sysName, seen, volumes.holders);
    for (const std::string& partition : volumes.partitions) CollectHolders(system, partition, seen, volumes.holders);
    return volumes;
}

bool IsMounted(const std::string& mountInfo, const std::string& deviceNumber, const std::string& devNode)
{
    std::istringstream lines(mountInfo);
    std::string line;
    while (std::getline(lines, line)) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
        std::istringstream fields(line);
        std::string mountId, parentId, number;
        if (!(fields >> mountId >> parentId >> number)) continue;
        if (!deviceNumber.empty() && number == deviceNumber) return true;
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos || devNode.empty()) continue;
        std::istringstream tail(line.substr(separator + 3));
        std::string type, source;
        if ((tail >> type >> source) && source == devNode) return true;
    }
    return false;
}

bool IsActiveSwap(const std::string& swaps, const std::string& devNode)
{
    std::istringstream lines(swaps);
    std::string line;
    // "Filename  Type  Size  Used  Priority" heading, then one line per area.
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        if ((fields >> name) && name == devNode) return true;
    }
    return false;
}

bool IsFilteredOut(SystemInterface& system, FilterMode mode, const std::string& sysName)
{
    if (mode == FilterMode::AllowAll) return false;
    const DiskVolumes volumes = FindVolumes(system, sysName);
    if (mode == FilterMode::IgnoreIfItHasVolumes && (!volumes.partitions.empty() || !volumes.holders.empty()))
        return true;

    const std::string mountInfo = system.ReadFile("/proc/self/mountinfo").value_or(std::string());
    const std::string swaps = system.ReadFile("/proc/swaps").value_or(std::string());
    std::vector<std::string> devices{sysName};
    devices.insert(devices.end(), volumes.partitions.begin(), volumes.partitions.end());
    devices.insert(devices.end(), volumes.holders.begin(), volumes.holders.end());
    for (const std::string& device : devices) {
        const std::string node = "/dev/" + device;
        if (IsMounted(mountInfo, DeviceNumberOf(system, device), node) || IsActiveSwap(swaps, node)) return true;
    }
    return false;
}

}  // namespace os_devices
