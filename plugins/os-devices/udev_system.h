// The system seam over libudev, sysfs and the mount table: what the plug-in uses
// in production.
//
// A disk's identity (the interface path) is its first /dev/disk/by-id/ link in
// byte order, which names the drive by bus, model and serial number and so stays
// the same when the disk is unplugged and plugged in again, even on another
// port; a disk without such a link is known by its kernel device path.
#pragma once

#include <memory>

#include "system_interface.h"

struct udev;
struct udev_monitor;

namespace os_devices {

class UdevSystem final : public SystemInterface {
public:
    UdevSystem();
    ~UdevSystem() override;
    UdevSystem(const UdevSystem&) = delete;
    UdevSystem& operator=(const UdevSystem&) = delete;

    bool EnumerateDisks(std::vector<DiskEntry>& disks, std::string& problem) override;
    bool StartMonitor(std::string& problem) override;
    std::optional<DiskEvent> WaitForEvent(int timeoutMs) override;
    void Interrupt() override;
    void StopMonitor() override;
    bool CanOpen(const std::string& devNode) override;
    std::vector<std::string> ListDirectory(const std::string& path) override;
    std::optional<std::string> ReadFile(const std::string& path) override;
    bool IsClaimed(const std::string& devNode) override;
    std::string DeviceProperty(const std::string& sysName, const std::string& key) override;
    // Loads HOSTPORT_LIBRARY_NAME on first use; null when it is missing.
    const HostPortFunctions* HostPorts() override;

private:
    bool Connect(std::string& problem);

    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
    int wakeFd_ = -1;  // eventfd that Interrupt() signals
    bool hostPortTried_ = false;
    void* hostPortLibrary_ = nullptr;
    HostPortFunctions hostPorts_{};
};

}  // namespace os_devices
