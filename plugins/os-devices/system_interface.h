// The one seam between the OS devices plug-in and the system: enumeration of
// whole disks and their hot-plug events (libudev in production), plain file
// and directory reads (sysfs and the mount table), udev properties, and checks
// that a disk node can be opened and whether the kernel holds it. Production
// code uses UdevSystem; tests hand the plug-in a scripted population instead.
#pragma once

#include <hostport/hostport_api.h>

#include <optional>
#include <string>
#include <vector>

namespace os_devices {

// A whole disk as the system presents it.
struct DiskEntry {
    std::string devPath;     // kernel device path, "/devices/.../block/sda"
    std::string sysName;     // kernel name, "sda"
    std::string devNode;     // node to open, "/dev/sda"
    std::string identity;    // stable identity across rescans and re-plugging (see UdevSystem)
    std::string bus;         // "usb", "ata", "scsi", "nvme", "virtio", ... or empty when unknown
    unsigned major = 0;      // device number
    unsigned minor = 0;
};

// A uevent of a whole disk.
struct DiskEvent {
    std::string action;      // "add", "remove", "change", ...
    std::string devPath;
    std::string devNode;
};

// The four calls of the host-port library that the disk lookup makes.
struct HostPortFunctions {
    LsiFindPortsFunction findPorts;
    LsiScanForDevicesFunction scanForDevices;
    LsiGetSerialNumberFunction getSerialNumber;
    LsiClosePortFunction closePort;
};

class SystemInterface {
public:
    virtual ~SystemInterface() = default;

    // Every present whole disk that can carry drives, in enumeration order. False
    // with `problem` filled when the enumeration itself cannot be used.
    virtual bool EnumerateDisks(std::vector<DiskEntry>& disks, std::string& problem) = 0;
    // Starts following disk events; false when that is not possible.
    virtual bool StartMonitor(std::string& problem) = 0;
    // The next disk event, or nothing after `timeoutMs` milliseconds or an Interrupt().
    virtual std::optional<DiskEvent> WaitForEvent(int timeoutMs) = 0;
    // Makes a pending or the next WaitForEvent return at once; any thread.
    virtual void Interrupt() = 0;
    virtual void StopMonitor() = 0;

    // Whether the node opens for reading and writing (closed again at once).
    virtual bool CanOpen(const std::string& devNode) = 0;
    // Names in a directory ("." and ".." left out); empty when it cannot be read.
    virtual std::vector<std::string> ListDirectory(const std::string& path) = 0;
    // Whole text of a file; nothing when it cannot be read.
    virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
    // Whether something in the kernel holds the block device exclusively, so
    // that an exclusive open of it is refused as busy.
    virtual bool IsClaimed(const std::string& devNode) = 0;
    // A udev property of a block device ("ID_FS_TYPE"), empty when it has none.
    virtual std::string DeviceProperty(const std::string& sysName, const std::string& key) = 0;
    // The host-port library, or null when this machine has none.
    virtual const HostPortFunctions* HostPorts() = 0;
};

}  // namespace os_devices
