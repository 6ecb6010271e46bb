// A scripted system behind the plug-in's seam: a population of disks with their
// sysfs entries, a mount table, and disk events that the test posts one by one.
// The discovery thread only ever wakes when the test posts something, so a test
// knows exactly which pass of the loop has run.
#pragma once

#include <device/os_driveinfo.h>

#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <deque>
#include <set>

#include "system_interface.h"

namespace os_devices_test {

using os_devices::DiskEntry;
using os_devices::DiskEvent;

class FakeSystem final : public os_devices::SystemInterface {
public:
    FakeSystem() { files["/proc/self/mountinfo"] = ""; }

    // A whole disk with its sysfs "dev" attribute; bus "usb" puts it behind USB.
    DiskEntry& AddDisk(const std::string& name, unsigned major, unsigned minor, const std::string& identity,
                       const std::string& bus = "ata");
    void AddPartition(const std::string& disk, const std::string& partition, unsigned major, unsigned minor);
    void AddHolder(const std::string& below, const std::string& holder, unsigned major, unsigned minor);
    void RemoveDisk(const std::string& name);
    // Appends a mount of the device number "major:minor" from `source` to the mount table.
    void Mount(const std::string& deviceNumber, const std::string& source);
    void MakeUnopenable(const std::string& devNode);
    // Something in the kernel holds the node exclusively.
    void Claim(const std::string& devNode);
    void SetProperty(const std::string& sysName, const std::string& key, const std::string& value);
    void FailEnumeration(bool fail);
    // Holds EnumerateDisks until ReleaseEnumeration().
    void HoldEnumeration();
    void ReleaseEnumeration();

    // Posts a uevent (or, without one, a bare wake-up that runs a linger pass)
    // and waits until the discovery thread has handled it and waits again.
    void Run(std::optional<DiskEvent> event = std::nullopt);
    void Event(const std::string& action, const std::string& name) { Run(DiskEvent{action, DevPath(name), "/dev/" + name}); }
    static std::string DevPath(const std::string& name) { return "/devices/pci0000:00/0000:00:1f.2/ata1/block/" + name; }

    bool EnumerateDisks(std::vector<DiskEntry>& disks, std::string& problem) override;
    bool StartMonitor(std::string& problem) override;
    std::optional<DiskEvent> WaitForEvent(int timeoutMs) override;
    void Interrupt() override;
    void StopMonitor() override {}
    bool CanOpen(const std::string& devNode) override;
    std::vector<std::string> ListDirectory(const std::string& path) override;
    std::optional<std::string> ReadFile(const std::string& path) override;
    bool IsClaimed(const std::string& devNode) override;
    std::string DeviceProperty(const std::string& sysName, const std::string& key) override;
    const os_devices::HostPortFunctions* HostPorts() override;

    // A host-port library with ports that each hold devices (entry, serial text);
    // a port whose scan fails has `scanFails`.
    struct FakePort {
        std::array<uint8_t, HOST_PORT_RECORD_SIZE> record{};
        std::vector<std::pair<std::array<uint32_t, 4>, std::string>> devices;
        bool scanFails = false;
        bool closed = false;
    };
    std::vector<FakePort> hostPorts;  // empty: no library

    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> directories;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DiskEntry> disks_;
    std::set<std::string> unopenable_;
    std::set<std::string> claimed_;
    std::map<std::pair<std::string, std::string>, std::string> properties_;
    std::deque<std::optional<DiskEvent>> queue_;
    bool interrupted_ = false;
    bool failEnumeration_ = false;
    bool holdEnumeration_ = false;
    unsigned entered_ = 0;  // calls of WaitForEvent so far
    unsigned takenAt_ = 0;  // the call that took the last posted item
};

}  // namespace os_devices_test
