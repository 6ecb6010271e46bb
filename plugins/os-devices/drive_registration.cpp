// Turning a disk record into an "os/driveinfo" resource, the resource's
// callbacks, and the listener operations published in its OsDriveInfo.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "plugin_state.h"

namespace os_devices {

namespace {

template <std::size_t N>
void CopyText(char (&target)[N], const std::string& text)
{
    std::memset(target, 0, N);
    std::memcpy(target, text.data(), std::min(text.size(), N - 1));
}

template <typename T>
void Erase(std::vector<T*>& list, T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

bool InDriveList(DriveRecord* record)
{
    const auto& drives = State().drives;
    return std::find(drives.begin(), drives.end(), record) != drives.end();
}

void AddListener(void* ownerHandle, DriveListener* listener)
{
    std::lock_guard lock(State().mutex);
    auto* record = static_cast<DriveRecord*>(ownerHandle);
    if (InDriveList(record)) record->listeners.push_back(listener);
}

void RemoveListener(void* ownerHandle, DriveListener* listener)
{
    std::lock_guard lock(State().mutex);
    auto* record = static_cast<DriveRecord*>(ownerHandle);
    if (InDriveList(record)) Erase(record->listeners, listener);
}

void ResourceRegistered(void* userData, CvUID resource)
{
    std::lock_guard lock(State().mutex);
    auto* record = static_cast<DriveRecord*>(userData);
    record->resourceId = resource;
    State().drives.push_back(record);
}

// Drops the record from both lists and frees it. The resource manager calls this
// only when no call runs on the resource, so no waiter of "wait until available"
// is left; the wait on `waiters` only guards that promise.
int ResourceDispose(void* userData, CvError* error)
{
    PluginState& state = State();
    std::unique_lock lock(state.mutex);
    auto* record = static_cast<DriveRecord*>(userData);
    Erase(state.drives, record);
    Erase(state.linger, record);
    record->available = false;
    record->waitable = false;
    Broadcast(*record);
    record->changed.wait(lock, [&] { return record->waiters == 0; });
    state.owned.remove_if([&](const RecordPtr& owned) { return owned.get() == record; });
    return CvSetNoThreadError(error);
}

}  // namespace

void Broadcast(DriveRecord& record)
{
    ++record.changes;
    record.changed.notify_all();
}

int32_t NextResourceNumber()
{
    PluginState& state = State();
    std::lock_guard lock(state.counterMutex);
    return state.resourceCounter++;
}

RecordPtr MakeRecord(const std::string& interfacePath, const std::string& path, int32_t driveNumber,
                     const std::string& sysName)
{
    auto record = std::make_unique<DriveRecord>();
    record->resourceNumber = NextResourceNumber();
    record->interfacePath = interfacePath.substr(0, OS_DRIVE_PATH_SIZE - 1);
    record->systemPath = path.substr(0, OS_DRIVE_PATH_SIZE - 1);
    record->accessPath = record->systemPath;
    record->driveNumber = driveNumber;
    record->sysName = sysName;
    return record;
}

int RegisterDrive(RecordPtr owned, CvError* error)
{
    PluginState& state = State();
    DriveRecord* record = owned.get();

    CvResourceDescriptor descriptor{};
    char name[CV_RESOURCE_NAME_SIZE];
    std::snprintf(name, sizeof name, "device:%d", record->resourceNumber);
    CopyText(descriptor.info.name, name);
    CopyText(descriptor.info.description, record->description);
    CopyText(descriptor.typeInfo.typeName, OS_DRIVEINFO_TYPE_NAME);

    auto* info = static_cast<OsDriveInfo*>(CvAlloc(sizeof(OsDriveInfo)));
    if (info == nullptr) return CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory");
    info->ownerHandle = record;
    info->nodeType = OS_DRIVE_NODE_TYPE;
    info->addListener = AddListener;
    info->removeListener = RemoveListener;
    {
        std::lock_guard lock(state.mutex);
        CopyText(info->diskPath, record->accessPath);
        info->info = record->info;
        state.owned.push_back(std::move(owned));
    }
    descriptor.typeInfo.typeData = info;
    descriptor.userData = record;
    descriptor.registered = ResourceRegistered;
    descriptor.dispose = ResourceDispose;

    CvUID resource = CV_UID_NONE;
    if (CvResourceManager_Register(&descriptor, &resource, error) == 0) {
        std::lock_guard lock(state.mutex);
        state.owned.remove_if([&](const RecordPtr& entry) { return entry.get() == record; });
        return 0;
    }
    if (RegisterDriveServices(*record, error) == 0) {
        CvError ignored;
        CvResourceManager_Unregister(resource, &ignored);
        return 0;
    }
    return CvSetNoThreadError(error);
}

}  // namespace os_devices
