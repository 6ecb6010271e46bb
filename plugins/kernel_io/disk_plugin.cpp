// Attaching pass-through services to the OS devices plug-in's disks.
#include "kernel_io/disk_plugin.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "kernel_io/kernel_io.h"

namespace passthrough {

OpenDisk::~OpenDisk() { KernelIo_Close(fd_); }

uint32_t OpenDisk::capTransfer(uint32_t ability) const {
    constexpr uint32_t kBlock = 512;
    if (maxTransfer_ == 0 || ability <= maxTransfer_) return ability;
    return maxTransfer_ / kBlock * kBlock;
}

std::shared_ptr<OpenDisk> openDisk(const std::string& path) {
    int fd = KernelIo_Open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    uint32_t maxTransfer = 0;
    if (KernelIo_MaxTransfer(fd, &maxTransfer) != 0) maxTransfer = 0;
    return std::make_shared<OpenDisk>(fd, maxTransfer);
}

// ---- DiskUnit ----------------------------------------------------------------

DiskUnit::DiskUnit(DiskPlugin& plugin, CvUID resource, std::string path, std::shared_ptr<OpenDisk> disk)
    : plugin_(plugin), resource_(resource), path_(std::move(path)), disk_(std::move(disk)) {}

CvUID DiskUnit::service() const {
    std::lock_guard lock(mutex_);
    return service_;
}

DiskUnit::Snapshot DiskUnit::snapshot() const {
    std::lock_guard lock(mutex_);
    return {disk_, timeoutNs_};
}

uint32_t DiskUnit::capTransfer(uint32_t ability) const {
    std::lock_guard lock(mutex_);
    return disk_ ? disk_->capTransfer(ability) : ability;
}

uint64_t DiskUnit::timeoutNs() const {
    std::lock_guard lock(mutex_);
    return timeoutNs_;
}

void DiskUnit::setTimeoutNs(uint64_t value) {
    std::lock_guard lock(mutex_);
    timeoutNs_ = value;
}

int DiskUnit::answerSetting(CvCommand* command, const char* kind, bool ataConstant, CvError* error) {
    auto setting = readBlock<DeviceSetting>(command);
    if (command->function == DEVICE_FUNCTION_SET_SETTING) {
        if (setting.identifier != DEVICE_SETTING_TIMEOUT) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to set: %d", kind,
                              setting.identifier);
        }
        setTimeoutNs(setting.value);
        return CvSetNoError(error);
    }
    if (setting.identifier == DEVICE_SETTING_TIMEOUT) {
        setting.value = timeoutNs();
    } else if (ataConstant && setting.identifier == DEVICE_SETTING_ATA_CONSTANT) {
        setting.value = 1;
    } else {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to get: %d", kind, setting.identifier);
    }
    writeBlock(command, setting);
    return CvSetNoError(error);
}

// Called by the OS devices plug-in when the disk goes away or comes back.
void DiskUnit::notify(void* owner, int32_t arrived, const char* path, const DriveInfoBlock* /*info*/) {
    auto* unit = static_cast<DiskUnit*>(owner);
    std::lock_guard lock(unit->mutex_);
    unit->disk_.reset();
    if (!arrived) return;
    std::string diskPath(path, strnlen(path, OS_DRIVE_PATH_SIZE - 1));
    unit->path_ = unit->plugin_.devicePath(diskPath.c_str());
    unit->disk_ = openDisk(unit->path_);
    if (!unit->disk_) CvLog(CV_LOG_ERROR, "Unable to re-open %s unit path '%s'", unit->plugin_.unitKind_, unit->path_.c_str());
}

// ---- DiskPlugin --------------------------------------------------------------

DiskPlugin::DiskPlugin(const char* serviceType, const char* unitKind)
    : serviceType_(serviceType), unitKind_(unitKind) {}

int DiskPlugin::load(CvError* error) {
    {
        std::lock_guard lock(mutex_);
        enabled_ = true;
        services_.clear();
    }
    hotplug_ = CvHotplugListener{};
    hotplug_.userData = this;
    hotplug_.resourceAdded = resourceAdded;
    CvHotplugEventManager_AddListener(&hotplug_);

    auto list = std::make_unique<CvUIDList>();
    CvError listError{};
    if (CvResourceManager_GetResourceList(list.get(), &listError)) {
        for (int32_t i = 0; i < list->count; ++i) attach(list->uids[i]);
    } else {
        CvLogThreadError(CV_LOG_WARNING, &listError);
    }
    return CvSetNoError(error);
}

int DiskPlugin::unload(CvError* error) {
    CvHotplugEventManager_RemoveListener(&hotplug_);
    std::vector<std::pair<CvUID, CvUID>> registered;
    {
        std::lock_guard lock(mutex_);
        enabled_ = false;
        registered = services_;
    }
    // Each unregistration disposes of the unit, which drops its own pair.
    for (const auto& [resource, service] : registered) {
        if (!CvResource_UnregisterService(resource, service, error)) return 0;
    }
    return CvSetNoError(error);
}

std::vector<std::pair<CvUID, CvUID>> DiskPlugin::services() const {
    std::lock_guard lock(mutex_);
    return services_;
}

bool DiskPlugin::acceptsNode(CvUID /*resource*/, const OsDriveInfo& /*info*/) { return true; }

std::string DiskPlugin::devicePath(const char* diskPath) const { return diskPath; }

void DiskPlugin::resourceAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
    static_cast<DiskPlugin*>(userData)->attach(resource);
}

void DiskPlugin::attach(CvUID resource) {
    CvError error{};
    CvUID existing = CV_UID_NONE;
    if (!CvResource_LookupResourceService(resource, serviceType_, &existing, &error)) {
        CvLogThreadError(CV_LOG_WARNING, &error);
        return;
    }
    if (existing != CV_UID_NONE) return;
    CvResourceTypeInfo type{};
    if (!CvResource_GetTypeInfo(resource, &type, &error)) {
        CvLogThreadError(CV_LOG_WARNING, &error);
        return;
    }
    if (std::memcmp(type.typeName, OS_DRIVEINFO_TYPE_NAME, sizeof OS_DRIVEINFO_TYPE_NAME) != 0) return;
    if (type.typeData == nullptr) return;
    // The record belongs to the resource manager and goes with the resource,
    // which may be unregistered while the disk is probed: work on a copy.
    OsDriveInfo info;
    std::memcpy(&info, type.typeData, sizeof info);
    info.diskPath[OS_DRIVE_PATH_SIZE - 1] = '\0';
    if (!acceptsNode(resource, info)) return;

    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    // load() walks the resources while the work thread may deliver their
    // resource-added events: both can pass the check above for one disk, and
    // only the first may give it the service.
    const bool attached = std::any_of(services_.begin(), services_.end(),
                                      [&](const auto& pair) { return pair.first == resource; });
    if (attached) return;
    if (services_.size() >= kMaxServices) {
        CvLog(CV_LOG_WARNING, "Resource list full, unable to fill out new service descriptor for resource %d",
              static_cast<int>(resource));
        return;
    }
    std::string diskPath(info.diskPath, strnlen(info.diskPath, OS_DRIVE_PATH_SIZE - 1));
    std::string path = devicePath(diskPath.c_str());
    if (path.empty()) return;
    std::shared_ptr<OpenDisk> disk = openDisk(path);
    if (!disk) {
        CvLog(CV_LOG_WARNING, "Unable to open physical disk path '%s'", path.c_str());
        return;
    }
    if (!probe(*disk)) return;

    std::unique_ptr<DiskUnit> unit = createUnit(resource, info, path, std::move(disk));
    DiskUnit* raw = unit.get();
    raw->listener_.owner = raw;
    raw->listener_.notify = DiskUnit::notify;
    raw->ownerHandle_ = info.ownerHandle;
    raw->removeListener_ = info.removeListener;
    if (info.addListener != nullptr) info.addListener(info.ownerHandle, &raw->listener_);

    CvServiceDescriptor descriptor{};
    std::strncpy(descriptor.info.type, serviceType_, sizeof descriptor.info.type - 1);
    descriptor.userData = raw;
    descriptor.registered = registered;
    descriptor.execute = execute;
    descriptor.submit = submit;
    descriptor.abort = abort;
    descriptor.dispose = dispose;
    CvUID service = CV_UID_NONE;
    if (!CvResource_RegisterService(resource, &descriptor, &service, &error)) {
        if (raw->removeListener_ != nullptr) raw->removeListener_(raw->ownerHandle_, &raw->listener_);
        CvLogThreadError(CV_LOG_WARNING, &error);
        return;
    }
    unit.release();  // the core owns it now and hands it back to dispose
    services_.emplace_back(resource, service);
}

void DiskPlugin::registered(void* userData, CvUID service) {
    auto* unit = static_cast<DiskUnit*>(userData);
    std::lock_guard lock(unit->mutex_);
    unit->service_ = service;
}

int DiskPlugin::execute(void* userData, CvCommand* command, CvError* error) {
    return static_cast<DiskUnit*>(userData)->execute(command, error);
}

int DiskPlugin::submit(void*, CvCommand*, CvCommandCompletion*, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported yet");
}

int DiskPlugin::abort(void*, uint32_t, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported yet");
}

int DiskPlugin::dispose(void* userData, CvError* error) {
    std::unique_ptr<DiskUnit> unit(static_cast<DiskUnit*>(userData));
    if (unit->removeListener_ != nullptr) unit->removeListener_(unit->ownerHandle_, &unit->listener_);
    DiskPlugin& plugin = unit->plugin_;
    CvUID resource = unit->resource_;
    CvUID service = unit->service();
    unit.reset();
    plugin.forget(resource, service);
    return CvSetNoError(error);
}

void DiskPlugin::forget(CvUID resource, CvUID service) {
    std::lock_guard lock(mutex_);
    std::erase_if(services_, [&](const auto& pair) { return pair.first == resource && pair.second == service; });
}

}  // namespace passthrough
