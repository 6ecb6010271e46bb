#include "udev_system.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace os_devices {

namespace {

std::string Text(const char* value) { return value != nullptr ? value : ""; }

std::string IdentityOf(struct udev_device* device)
{
    // DEVLINKS: the links udev made for the node, separated by spaces.
    std::vector<std::string> links;
    std::istringstream all(Text(udev_device_get_property_value(device, "DEVLINKS")));
    std::string link;
    while (all >> link) {
        if (link.rfind("/dev/disk/by-id/", 0) == 0) links.push_back(link);
    }
    if (links.empty()) return Text(udev_device_get_devpath(device));
    return *std::min_element(links.begin(), links.end());
}

std::string BusOf(struct udev_device* device)
{
    if (udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device") != nullptr) return "usb";
    return Text(udev_device_get_property_value(device, "ID_BUS"));
}

}  // namespace

UdevSystem::UdevSystem() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

UdevSystem::~UdevSystem()
{
    StopMonitor();
    if (udev_ != nullptr) udev_unref(udev_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (hostPortLibrary_ != nullptr) ::dlclose(hostPortLibrary_);
}

bool UdevSystem::Connect(std::string& problem)
{
    if (udev_ == nullptr) udev_ = udev_new();
    if (udev_ == nullptr) problem = "udev is not available";
    return udev_ != nullptr;
}

bool UdevSystem::EnumerateDisks(std::vector<DiskEntry>& disks, std::string& problem)
{
    if (!Connect(problem)) return false;
    struct udev_enumerate* enumerate = udev_enumerate_new(udev_);
    if (enumerate == nullptr) {
        problem = "unable to enumerate block devices";
        return false;
    }
    udev_enumerate_add_match_subsystem(enumerate, "block");
    udev_enumerate_add_match_property(enumerate, "DEVTYPE", "disk");
    if (udev_enumerate_scan_devices(enumerate) < 0) {
        udev_enumerate_unref(enumerate);
        problem = "unable to scan block devices";
        return false;
    }
    struct udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        struct udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (device == nullptr) continue;
        DiskEntry disk;
        disk.devPath = Text(udev_device_get_devpath(device));
        disk.sysName = Text(udev_device_get_sysname(device));
        disk.devNode = Text(udev_device_get_devnode(device));
        disk.identity = IdentityOf(device);
        disk.bus = BusOf(device);
        const dev_t number = udev_device_get_devnum(device);
        disk.major = ::major(number);
        disk.minor = ::minor(number);
        udev_device_unref(device);
        disks.push_back(std::move(disk));
    }
    udev_enumerate_unref(enumerate);
    return true;
}

bool UdevSystem::StartMonitor(std::string& problem)
{
    if (!Connect(problem)) return false;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        problem = "unable to listen to udev events";
        StopMonitor();
        return false;
    }
    return true;
}

std::optional<DiskEvent> UdevSystem::WaitForEvent(int timeoutMs)
{
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return std::nullopt;
    if (fds[0].revents & POLLIN) {
        eventfd_t ignored;
        ::eventfd_read(wakeFd_, &ignored);
        return std::nullopt;
    }
    if (!(fds[1].revents & POLLIN)) return std::nullopt;
    struct udev_device* device = udev_monitor_receive_device(monitor_);
    if (device == nullptr) return std::nullopt;
    DiskEvent event{Text(udev_device_get_action(device)), Text(udev_device_get_devpath(device)),
                    Text(udev_device_get_devnode(device))};
    udev_device_unref(device);
    return event;
}

void UdevSystem::Interrupt()
{
    if (wakeFd_ >= 0) ::eventfd_write(wakeFd_, 1);
}

void UdevSystem::StopMonitor()
{
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
}

bool UdevSystem::CanOpen(const std::string& devNode)
{
    const int fd = ::open(devNode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool UdevSystem::IsClaimed(const std::string& devNode)
{
    // Read-only, so that closing it does not make udev probe the disk again.
    const int fd = ::open(devNode.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EBUSY;
}

std::string UdevSystem::DeviceProperty(const std::string& sysName, const std::string& key)
{
    std::string problem;
    if (!Connect(problem)) return {};
    struct udev_device* device = udev_device_new_from_subsystem_sysname(udev_, "block", sysName.c_str());
    if (device == nullptr) return {};
    std::string value = Text(udev_device_get_property_value(device, key.c_str()));
    udev_device_unref(device);
    return value;
}

std::vector<std::string> UdevSystem::ListDirectory(const std::string& path)
{
    std::vector<std::string> names;
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    return names;
}

std::optional<std::string> UdevSystem::ReadFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

const HostPortFunctions* UdevSystem::HostPorts()
{
    if (!hostPortTried_) {
        hostPortTried_ = true;
        hostPortLibrary_ = ::dlopen(HOSTPORT_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
        if (hostPortLibrary_ != nullptr) {
            hostPorts_.findPorts = reinterpret_cast<LsiFindPortsFunction>(::dlsym(hostPortLibrary_, "lsiFindPorts"));
            hostPorts_.scanForDevices =
                reinterpret_cast<LsiScanForDevicesFunction>(::dlsym(hostPortLibrary_, "lsiScanForDevices"));
            hostPorts_.getSerialNumber =
                reinterpret_cast<LsiGetSerialNumberFunction>(::dlsym(hostPortLibrary_, "lsiGetSerialNumber"));
            hostPorts_.closePort = reinterpret_cast<LsiClosePortFunction>(::dlsym(hostPortLibrary_, "lsiClosePort"));
        }
    }
    const bool complete = hostPorts_.findPorts != nullptr && hostPorts_.scanForDevices != nullptr &&
                          hostPorts_.getSerialNumber != nullptr && hostPorts_.closePort != nullptr;
    return complete ? &hostPorts_ : nullptr;
}

}  // namespace os_devices
