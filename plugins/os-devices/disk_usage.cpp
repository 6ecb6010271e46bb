#include "disk_usage.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

namespace os_devices {

namespace {

const std::string kClassBlock = "/sys/class/block/";
const std::string kSysBlock = "/sys/block";
const std::string kBtrfs = "/sys/fs/btrfs/";
// One directory per imported pool, each with a "state" file.
const std::string kZfsPools = "/proc/spl/kstat/zfs/";

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

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A mounted btrfs lists every device it spans under /sys/fs/btrfs/<fsid>/devices.
DiskUse BtrfsUse(SystemInterface& system, const std::vector<std::string>& devices)
{
    for (const std::string& fsid : system.ListDirectory(kBtrfs)) {
        for (const std::string& member : system.ListDirectory(kBtrfs + fsid + "/devices")) {
            if (Contains(devices, member)) return {member + " belongs to the mounted btrfs file system " + fsid};
        }
    }
    return {};
}

bool PoolImported(SystemInterface& system, const std::string& pool)
{
    return pool.find('/') == std::string::npos && pool != ".." && system.ReadFile(kZfsPools + pool + "/state");
}

// A device labelled as a ZFS member belongs to an imported pool when a pool of
// its label's name is imported. Without a usable name, any imported pool may
// be its own.
DiskUse ZfsUse(SystemInterface& system, const std::vector<std::string>& devices)
{
    for (const std::string& device : devices) {
        if (system.DeviceProperty(device, "ID_FS_TYPE") != "zfs_member") continue;
        const std::string pool = system.DeviceProperty(device, "ID_FS_LABEL");
        if (!pool.empty() && PoolImported(system, pool))
            return {device + " belongs to the imported ZFS pool " + pool};
        if (pool.empty() || pool.find('/') != std::string::npos) {
            for (const std::string& imported : system.ListDirectory(kZfsPools)) {
                if (PoolImported(system, imported))
                    return {device + " is a ZFS member and the pool " + imported + " is imported", true};
            }
        }
    }
    return {};
}

// "nvme<N>n<M>": the controller or subsystem number N of a namespace's disk
// name; nothing for other names (a multipath head's hidden paths included).
std::optional<unsigned> NvmeDriveNumber(const std::string& name)
{
    unsigned drive = 0, ns = 0;
    int end = 0;
    if (std::sscanf(name.c_str(), "nvme%un%u%n", &drive, &ns, &end) != 2 || static_cast<std::size_t>(end) != name.size())
        return std::nullopt;
    return drive;
}

std::string DeviceIdentifier(SystemInterface& system, const std::string& name)
{
    return Trimmed(system.ReadFile(kClassBlock + name + "/device/wwid").value_or(std::string()));
}

}  // namespace

std::vector<std::string> OtherDisksOfTheDrive(SystemInterface& system, const std::string& sysName)
{
    const std::optional<unsigned> nvme = NvmeDriveNumber(sysName);
    const std::string identifier = nvme ? std::string() : DeviceIdentifier(system, sysName);
    std::vector<std::string> others;
    if (!nvme && identifier.empty()) return others;
    for (const std::string& name : system.ListDirectory(kSysBlock)) {
        if (name == sysName) continue;
        if (nvme ? NvmeDriveNumber(name) == nvme : DeviceIdentifier(system, name) == identifier)
            others.push_back(name);
    }
    return others;
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

DiskUse FindUse(SystemInterface& system, const std::string& sysName, const DiskVolumes& volumes)
{
    const auto mountInfo = system.ReadFile("/proc/self/mountinfo");
    if (!mountInfo) return {"the mount table cannot be read", true};
    // A device-mapper or md device exists only while its volume group, array
    // or mapping is active, mounted or not.
    if (!volumes.holders.empty()) return {volumes.holders.front() + " is built on it"};

    std::vector<std::string> devices{sysName};
    devices.insert(devices.end(), volumes.partitions.begin(), volumes.partitions.end());
    const std::string swaps = system.ReadFile("/proc/swaps").value_or(std::string());
    for (const std::string& device : devices) {
        const std::string node = "/dev/" + device;
        if (IsMounted(*mountInfo, DeviceNumberOf(system, device), node)) return {device + " is mounted"};
        if (IsActiveSwap(swaps, node)) return {device + " is active swap space"};
    }
    if (DiskUse use = BtrfsUse(system, devices)) return use;
    if (DiskUse use = ZfsUse(system, devices)) return use;
    // Whatever else the kernel lets depend on a block device claims it
    // exclusively, and an exclusive open of it then fails.
    for (const std::string& device : devices) {
        if (system.IsClaimed("/dev/" + device)) return {device + " is held exclusively by the kernel"};
    }
    return {};
}

}  // namespace os_devices
