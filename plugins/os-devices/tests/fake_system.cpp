#include "fake_system.h"

#include <algorithm>

namespace os_devices_test {

namespace {
const std::string kClassBlock = "/sys/class/block/";

// The host-port calls reach the fake that the lookup runs for.
FakeSystem* hostPortOwner = nullptr;

FakeSystem::FakePort& PortAt(void* port) { return *static_cast<FakeSystem::FakePort*>(port); }

int FindPorts(void** ports)
{
    int count = 0;
    for (auto& port : hostPortOwner->hostPorts) ports[count++] = &port;
    return count;
}

int ScanForDevices(void* port, int* count, uint32_t (*devices)[4])
{
    if (PortAt(port).scanFails) return 0;
    *count = 0;
    for (const auto& device : PortAt(port).devices) {
        std::copy(device.first.begin(), device.first.end(), devices[(*count)++]);
    }
    return 1;
}

int GetSerialNumber(void* port, uint32_t word0, uint32_t word1, char* serial)
{
    for (const auto& device : PortAt(port).devices) {
        if (device.first[0] == word0 && device.first[1] == word1) {
            device.second.copy(serial, 255);
            return 1;
        }
    }
    return 0;
}

void ClosePort(void* port) { PortAt(port).closed = true; }

const os_devices::HostPortFunctions kHostPortFunctions{FindPorts, ScanForDevices, GetSerialNumber, ClosePort};

std::string Number(unsigned major, unsigned minor) { return std::to_string(major) + ":" + std::to_string(minor); }
}  // namespace

DiskEntry& FakeSystem::AddDisk(const std::string& name, unsigned major, unsigned minor, const std::string& identity,
                               const std::string& bus)
{
    std::lock_guard lock(mutex_);
    files[kClassBlock + name + "/dev"] = Number(major, minor) + "\n";
    directories[kClassBlock + name];
    disks_.push_back(DiskEntry{DevPath(name), name, "/dev/" + name, identity, bus, major, minor});
    return disks_.back();
}

void FakeSystem::AddPartition(const std::string& disk, const std::string& partition, unsigned major, unsigned minor)
{
    std::lock_guard lock(mutex_);
    directories[kClassBlock + disk].push_back(partition);
    files[kClassBlock + disk + "/" + partition + "/partition"] = "1\n";
    files[kClassBlock + partition + "/dev"] = Number(major, minor) + "\n";
}

void FakeSystem::AddHolder(const std::string& below, const std::string& holder, unsigned major, unsigned minor)
{
    std::lock_guard lock(mutex_);
    directories[kClassBlock + below + "/holders"].push_back(holder);
    files[kClassBlock + holder + "/dev"] = Number(major, minor) + "\n";
}

void FakeSystem::RemoveDisk(const std::string& name)
{
    std::lock_guard lock(mutex_);
    disks_.erase(std::remove_if(disks_.begin(), disks_.end(), [&](const DiskEntry& d) { return d.sysName == name; }),
                 disks_.end());
}

void FakeSystem::Mount(const std::string& deviceNumber, const std::string& source)
{
    std::lock_guard lock(mutex_);
    files["/proc/self/mountinfo"] += "40 1 " + deviceNumber + " / /mnt/" + std::to_string(files.size()) +
                                     " rw,relatime shared:1 - ext4 " + source + " rw\n";
}

void FakeSystem::MakeUnopenable(const std::string& devNode)
{
    std::lock_guard lock(mutex_);
    unopenable_.insert(devNode);
}

void FakeSystem::Claim(const std::string& devNode)
{
    std::lock_guard lock(mutex_);
    claimed_.insert(devNode);
}

void FakeSystem::SetProperty(const std::string& sysName, const std::string& key, const std::string& value)
{
    std::lock_guard lock(mutex_);
    properties_[{sysName, key}] = value;
}

void FakeSystem::FailEnumeration(bool fail)
{
    std::lock_guard lock(mutex_);
    failEnumeration_ = fail;
}

void FakeSystem::HoldEnumeration()
{
    std::lock_guard lock(mutex_);
    holdEnumeration_ = true;
}

void FakeSystem::ReleaseEnumeration()
{
    std::lock_guard lock(mutex_);
    holdEnumeration_ = false;
    changed_.notify_all();
}

void FakeSystem::Run(std::optional<DiskEvent> event)
{
    std::unique_lock lock(mutex_);
    queue_.push_back(std::move(event));
    changed_.notify_all();
    changed_.wait(lock, [&] { return queue_.empty() && entered_ > takenAt_; });
}

bool FakeSystem::EnumerateDisks(std::vector<DiskEntry>& disks, std::string& problem)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !holdEnumeration_; });
    if (failEnumeration_) {
        problem = "scripted failure";
        return false;
    }
    disks = disks_;
    return true;
}

bool FakeSystem::StartMonitor(std::string&) { return true; }

std::optional<DiskEvent> FakeSystem::WaitForEvent(int)
{
    std::unique_lock lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !queue_.empty() || interrupted_; });
    if (interrupted_) {
        interrupted_ = false;
        return std::nullopt;
    }
    std::optional<DiskEvent> event = std::move(queue_.front());
    queue_.pop_front();
    takenAt_ = entered_;
    return event;
}

void FakeSystem::Interrupt()
{
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

bool FakeSystem::CanOpen(const std::string& devNode)
{
    std::lock_guard lock(mutex_);
    return unopenable_.count(devNode) == 0;
}

std::vector<std::string> FakeSystem::ListDirectory(const std::string& path)
{
    std::lock_guard lock(mutex_);
    const auto found = directories.find(path);
    return found != directories.end() ? found->second : std::vector<std::string>{};
}

std::optional<std::string> FakeSystem::ReadFile(const std::string& path)
{
    std::lock_guard lock(mutex_);
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second;
}

bool FakeSystem::IsClaimed(const std::string& devNode)
{
    std::lock_guard lock(mutex_);
    return claimed_.count(devNode) != 0;
}

std::string FakeSystem::DeviceProperty(const std::string& sysName, const std::string& key)
{
    std::lock_guard lock(mutex_);
    const auto found = properties_.find({sysName, key});
    return found != properties_.end() ? found->second : std::string();
}

const os_devices::HostPortFunctions* FakeSystem::HostPorts()
{
    if (hostPorts.empty()) return nullptr;
    hostPortOwner = this;
    return &kHostPortFunctions;
}

}  // namespace os_devices_test
