// The two services of every disk resource: "resource/information" and
// "resource/hotplug-control". Each function takes exactly one parameter buffer.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "plugin_state.h"

namespace os_devices {

namespace {

struct FunctionShape {
    const char* name;
    int32_t size;  // required length of parameter buffer 0; -1: any
};

// Refuses a wrong function code or buffer length; true when the command fits.
template <std::size_t N>
bool CheckShape(const CvCommand* command, const FunctionShape (&shapes)[N], CvError* error)
{
    if (static_cast<std::size_t>(command->function) >= N) {
        CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
        return false;
    }
    const FunctionShape& shape = shapes[command->function];
    if (shape.size >= 0 && command->bufferLengths[0] != static_cast<uint32_t>(shape.size)) {
        CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Parameter buffer 0 is not exactly %d bytes long for '%s': %d",
                         shape.size, shape.name, static_cast<int>(command->bufferLengths[0]));
        return false;
    }
    return true;
}

void CopyPath(uint8_t* target, const std::string& path)
{
    std::memcpy(target, path.data(), std::min<std::size_t>(path.size(), 255));
}

// Four values and a 256-byte name, the name's last byte forced to 0.
void CopyProperties(uint8_t* target, const uint32_t (&values)[4], const char (&name)[256])
{
    std::memcpy(target, values, sizeof values);
    std::memcpy(target + 16, name, sizeof name);
    target[271] = 0;
}

int SubmitRefused(void*, CvCommand*, CvCommandCompletion*, CvError* error)
{
    return CvSetThreadError(error, CV_ERROR_FAILED, "Submitting commands not supported");
}

int AbortRefused(void*, uint32_t, CvError* error)
{
    return CvSetThreadError(error, CV_ERROR_FAILED, "Aborting commands not supported");
}

int DisposeNothing(void*, CvError* error) { return CvSetNoThreadError(error); }

// ---- "resource/information" -------------------------------------------------

const FunctionShape kInformation[] = {
    {"get support", 4},
    {"get system properties", 512},
    {"get hba properties", 272},
    {"get usb device properties", 272},
    {"get scsi topology", 16},
};

int ExecuteInformation(void* userData, CvCommand* command, CvError* error)
{
    if (!CheckShape(command, kInformation, error)) return 0;
    auto* record = static_cast<DriveRecord*>(userData);
    auto* out = static_cast<uint8_t*>(command->buffers[0]);
    std::lock_guard lock(State().mutex);
    const DriveInfoBlock& info = record->info;
    switch (command->function) {
    case 0: {
        uint32_t mask = 0x1;
        if (info.flags & DRIVE_INFO_HBA_PROPERTIES_VALID) mask |= 0x2;
        if (info.flags & DRIVE_INFO_BUS_USB) mask |= 0x4;
        if (info.flags & DRIVE_INFO_SCSI_TOPOLOGY_VALID) mask |= 0x8;
        std::memcpy(out, &mask, sizeof mask);
        break;
    }
    case 1:
        std::memset(out, 0, 512);
        CopyPath(out, record->systemPath);
        CopyPath(out + 256, record->accessPath);
        break;
    case 2:
        if (!(info.flags & DRIVE_INFO_HBA_PROPERTIES_VALID))
            return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED,
                                    "This resource does not support getting HBA properties");
        CopyProperties(out, info.hbaProperties, info.hbaName);
        break;
    case 3:
        if (!(info.flags & DRIVE_INFO_BUS_USB))
            return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED,
                                    "This resource does not support getting USB device properties");
        CopyProperties(out, info.usbProperties, info.usbName);
        break;
    case 4:
        if (!(info.flags & DRIVE_INFO_SCSI_TOPOLOGY_VALID))
            return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED,
                                    "This resource does not support getting scsi topology");
        std::memcpy(out, info.scsiTopology, sizeof info.scsiTopology);
        break;
    }
    return CvSetNoThreadError(error);
}

void InformationRegistered(void* userData, CvUID service)
{
    std::lock_guard lock(State().mutex);
    static_cast<DriveRecord*>(userData)->informationServiceId = service;
}

// ---- "resource/hotplug-control" ----------------------------------------------

const FunctionShape kHotplug[] = {
    {"get capabilities", 4},
    {"remove now", -1},
    {"is dynamic", 1},
    {"get linger timeout", 4},
    {"set linger timeout", 4},
    {"is available", 1},
    {"wait until available", 1},
};

void UnregisterLater(void* argument)
{
    const auto resource = static_cast<CvUID>(reinterpret_cast<uintptr_t>(argument));
    CvError error;
    if (CvResourceManager_Unregister(resource, &error) == 0) CvLogThreadError(CV_LOG_ERROR, &error);
}

int RemoveNow(DriveRecord& record, CvError* error)
{
    CvUID resource;
    {
        std::lock_guard lock(State().mutex);
        record.available = false;
        record.waitable = false;
        Broadcast(record);
        resource = record.resourceId;
    }
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    if (work == nullptr) return CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory");
    work->argument = reinterpret_cast<void*>(static_cast<uintptr_t>(resource));
    work->function = UnregisterLater;
    CvWorkManager_QueueWork(work);
    return CvSetNoThreadError(error);
}

int ExecuteHotplug(void* userData, CvCommand* command, CvError* error)
{
    if (!CheckShape(command, kHotplug, error)) return 0;
    auto* record = static_cast<DriveRecord*>(userData);
    auto* out = static_cast<uint8_t*>(command->buffers[0]);
    if (command->function == 1) return RemoveNow(*record, error);

    std::unique_lock lock(State().mutex);
    switch (command->function) {
    case 0:
        std::memset(out, 0, 4);
        break;
    case 2:
        out[0] = 0;
        break;
    case 3:
        std::memcpy(out, &record->lingerTimeout, 4);
        break;
    case 4:
        std::memcpy(&record->lingerTimeout, out, 4);
        break;
    case 5:
        out[0] = record->available ? 1 : 0;
        break;
    case 6:
        if (!record->available && record->waitable) {
            const uint64_t seen = record->changes;
            ++record->waiters;
            record->changed.notify_all();  // lets a stop or a test see the waiter
            record->changed.wait(lock, [&] { return record->changes != seen; });
            --record->waiters;
            if (record->waiters == 0) record->changed.notify_all();
        }
        out[0] = record->available ? 1 : 0;
        break;
    }
    return CvSetNoThreadError(error);
}

void HotplugRegistered(void* userData, CvUID service)
{
    std::lock_guard lock(State().mutex);
    static_cast<DriveRecord*>(userData)->hotplugServiceId = service;
}

CvServiceDescriptor Describe(const char* type, DriveRecord& record, CvServiceRegisteredFunction registered,
                             CvServiceExecuteFunction execute)
{
    CvServiceDescriptor descriptor{};
    std::strncpy(descriptor.info.type, type, sizeof descriptor.info.type - 1);
    descriptor.userData = &record;
    descriptor.registered = registered;
    descriptor.execute = execute;
    descriptor.submit = SubmitRefused;
    descriptor.abort = AbortRefused;
    descriptor.dispose = DisposeNothing;
    return descriptor;
}

}  // namespace

int RegisterDriveServices(DriveRecord& record, CvError* error)
{
    CvUID resource;
    {
        std::lock_guard lock(State().mutex);
        resource = record.resourceId;
    }
    CvUID service = CV_UID_NONE;
    const CvServiceDescriptor information =
        Describe("resource/information", record, InformationRegistered, ExecuteInformation);
    if (CvResource_RegisterService(resource, &information, &service, error) == 0) return 0;
    const CvServiceDescriptor hotplug =
        Describe("resource/hotplug-control", record, HotplugRegistered, ExecuteHotplug);
    return CvResource_RegisterService(resource, &hotplug, &service, error);
}

}  // namespace os_devices
