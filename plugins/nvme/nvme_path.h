// Where the NVMe admin and reset requests of a namespace go: the controller's
// character device, named by the namespace block device's name without its
// namespace part (/dev/nvme0n1 -> /dev/nvme0).
#pragma once

#include <string>

namespace nvme_plugin {

// Empty when the path does not name an NVMe namespace.
std::string controllerPath(const std::string& namespacePath);

}  // namespace nvme_plugin
