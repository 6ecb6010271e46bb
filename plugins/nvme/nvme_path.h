// Where the NVMe admin and reset requests of a namespace go: the character
// device of a live controller that reaches it, found through sysfs.
//
// Without native multipath a namespace block device belongs to one controller
// and is named after it (/dev/nvme0n1 under /dev/nvme0). Under multipath, and
// for NVMe over fabrics with multipath on, the kernel puts one block device per
// namespace under the subsystem (/sys/devices/virtual/nvme-subsystem/
// nvme-subsys1/nvme1n1), named after the subsystem's number, and the
// subsystem's directory links every controller that reaches it. A controller
// takes admin commands only while its "state" reads "live".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nvme_plugin {

// The parts of sysfs the lookup reads.
class SysfsView {
public:
    virtual ~SysfsView() = default;
    // Names in a directory; empty when it cannot be read.
    virtual std::vector<std::string> list(const std::string& path) const = 0;
    // Whole text of a file; nothing when it cannot be read.
    virtual std::optional<std::string> read(const std::string& path) const = 0;
};

// This system's sysfs.
const SysfsView& systemSysfs();

// The controller node for a namespace block device path; empty when the path
// names no NVMe namespace or no live controller reaches it. A namespace that
// sysfs does not know is taken to be its controller's, by name.
std::string controllerPath(const std::string& namespacePath, const SysfsView& sysfs = systemSysfs());

}  // namespace nvme_plugin
