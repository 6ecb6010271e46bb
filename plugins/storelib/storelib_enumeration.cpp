// Finding the controllers and their drives, once at load, and registering a
// resource for each.
#include <cstdarg>
#include <cstdio>

#include "storelib_plugin.h"

namespace storelib_plugin {

namespace {

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::snprintf(field, N, "%s", text.c_str());
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char text[CV_RESOURCE_DESCRIPTION_SIZE];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

// The adapter's registered function: its controller and PHY information.
void adapterRegistered(void* userData, CvUID resource) {
    auto* adapter = static_cast<AdapterRecord*>(userData);
    adapter->resource = resource;
    const StoreLibLibraries& libraries = *adapter->libraries;
    uint32_t status = libraries.send(adapter->libraryIndex, STORELIB_CLASS_CONTROLLER, STORELIB_CONTROLLER_INFO,
                                     adapter->controllerId, 0, adapter->controllerInfo.data(),
                                     STORELIB_CONTROLLER_INFO_SIZE);
    if (status != STORELIB_STATUS_SUCCESS) {
        CvLog(CV_LOG_ERROR, "Could not retrieve controller info for adapter 0x%X\n", adapter->controllerId);
    }
    StoreLibPhyRequest request{};
    request.size = STORELIB_PHY_INFO_SIZE;
    request.signature = 0x07010000;
    request.kind = 2;
    request.buffer = adapter->phyInfo.data();
    status = libraries.send(adapter->libraryIndex, STORELIB_CLASS_PASS_THROUGH, STORELIB_PASS_THROUGH_PHY_INFO,
                            adapter->controllerId, 0, &request, sizeof request);
    if (status != STORELIB_STATUS_SUCCESS) {
        CvLog(CV_LOG_ERROR, "Could not retrieve PHY connection info for adapter %d, error 0x%0X\n",
              static_cast<int>(adapter->controllerId), status);
    }
}

// The drive's registered function: its device information.
void deviceRegistered(void* userData, CvUID resource) {
    auto* device = static_cast<DeviceRecord*>(userData);
    device->resource = resource;
    uint32_t status = device->libraries->send(device->adapter->libraryIndex, STORELIB_CLASS_PHYSICAL_DEVICE,
                                              STORELIB_DEVICE_INFO, device->adapter->controllerId, device->deviceId,
                                              device->info.data(), STORELIB_DEVICE_INFO_SIZE);
    if (status != STORELIB_STATUS_SUCCESS) {
        CvLog(CV_LOG_ERROR, "Could not retrieve device info for device 0x%X StoreLib error: 0x%X\n", device->deviceId,
              status);
    }
}

int disposeNothing(void*, CvError* error) { return CvSetNoError(error); }

template <typename Record>
int registerResource(Record* record, const std::string& name, const std::string& description, const char* type,
                     CvResourceRegisteredFunction registered, CvError* error) {
    CvResourceDescriptor descriptor{};
    copyText(descriptor.info.name, name);
    copyText(descriptor.info.description, description);
    copyText(descriptor.typeInfo.typeName, type);
    descriptor.typeInfo.typeData = typeDataFor(record);
    if (descriptor.typeInfo.typeData == nullptr) return CvSetError(error, CV_ERROR_INTERNAL, "Out of memory");
    descriptor.userData = record;
    descriptor.registered = registered;
    descriptor.dispose = disposeNothing;
    CvUID uid = CV_UID_NONE;
    return CvResourceManager_Register(&descriptor, &uid, error);
}

}  // namespace

void StoreLibPlugin::enumerate() {
    for (uint32_t index = 0; index < STORELIB_FAMILY_COUNT; ++index) {
        if (!libraries_.initialized(index)) continue;
        uint8_t list[STORELIB_CONTROLLER_LIST_SIZE] = {};
        uint32_t status = libraries_.send(index, STORELIB_CLASS_LIBRARY, STORELIB_LIBRARY_CONTROLLER_LIST, 0, 0, list,
                                          sizeof list);
        if (status != STORELIB_STATUS_SUCCESS) {
            CvLog(CV_LOG_WARNING, "Could not retrieve StoreLib %s controller list, error 0x%X", familyName(index),
                  status);
            continue;
        }
        uint16_t count = 0;
        std::memcpy(&count, list, sizeof count);
        // No more IDs fit in the list than its room holds, whatever the count says.
        count = std::min<uint16_t>(count, STORELIB_CONTROLLER_LIST_CAPACITY);
        for (uint16_t i = 0; i < count; ++i) {
            uint32_t controllerId = 0;
            std::memcpy(&controllerId, list + 4 + 4 * i, sizeof controllerId);
            addAdapter(controllerId);
        }
    }
}

void StoreLibPlugin::addAdapter(uint32_t controllerId) {
    auto owned = std::make_unique<AdapterRecord>();
    AdapterRecord* adapter = owned.get();
    adapter->controllerId = controllerId;
    adapter->libraryIndex = STORELIB_CONTROLLER_FAMILY(controllerId);
    adapter->libraries = &libraries_;
    {
        // Listed first, so that the adapter listener knows it as ours.
        std::lock_guard lock(mutex_);
        adapters_.push_back(std::move(owned));
    }
    const char* family = familyName(adapter->libraryIndex);
    CvError error{};
    if (!registerResource(adapter, format("storelib:a%d", static_cast<int>(controllerId)), format("LSI %s HBA", family),
                          kAdapterResourceType, adapterRegistered, &error)) {
        CvLog(CV_LOG_WARNING, "%s", error.message);
        std::lock_guard lock(mutex_);
        adapters_.pop_back();
        return;
    }
    if (!listDrives(*adapter, &error)) CvLog(CV_LOG_WARNING, "%s", error.message);
}

std::string StoreLibPlugin::driveLocation(const AdapterRecord& adapter, uint8_t slot) {
    const auto& info = adapter.controllerInfo;
    const char* text = reinterpret_cast<const char*>(info.data() + STORELIB_CONTROLLER_LOCATION_OFFSET);
    std::string location(text, strnlen(text, info.size() - STORELIB_CONTROLLER_LOCATION_OFFSET));
    return format("s%sn%u", location.c_str(), static_cast<unsigned>(slot));
}

int StoreLibPlugin::listDrives(AdapterRecord& adapter, CvError* error) {
    auto list = std::make_unique<StoreLibDeviceList>();
    uint32_t status = libraries_.send(adapter.libraryIndex, STORELIB_CLASS_CONTROLLER, STORELIB_CONTROLLER_DEVICE_LIST,
                                      adapter.controllerId, 0, list.get(), sizeof *list);
    if (status != STORELIB_STATUS_SUCCESS) {
        return CvSetError(error, CV_ERROR_FAILED, "Physical Device list could not be retrieved, StoreLib error 0x%X",
                          status);
    }
    const char* family = familyName(adapter.libraryIndex);
    uint32_t count = std::min<uint32_t>(list->count, STORELIB_DEVICE_LIST_CAPACITY);
    for (uint32_t i = 0; i < count; ++i) {
        const StoreLibDeviceEntry& entry = list->entries[i];
        if (entry.deviceType != 0) continue;
        if (!filter_.empty()) {
            std::string location = driveLocation(adapter, entry.slot);
            if (location != filter_) {
                CvLog(CV_LOG_INFO, "filtered device (filter = %s, drive location = %s)\n", filter_.c_str(),
                      location.c_str());
                continue;
            }
        }
        auto owned = std::make_unique<DeviceRecord>();
        DeviceRecord* device = owned.get();
        device->deviceId = entry.deviceId;
        device->adapter = &adapter;
        device->libraries = &libraries_;
        {
            // Listed first, so that the drive listener knows it as ours.
            std::lock_guard lock(adapter.mutex);
            adapter.devices.push_back(std::move(owned));
        }
        CvError failure{};
        if (!registerResource(device,
                              format("storelib:a%dd%d", static_cast<int>(adapter.controllerId),
                                     static_cast<int>(entry.deviceId)),
                              format("Drive controlled by LSI %s HBA %d", family, static_cast<int>(adapter.controllerId)),
                              kDeviceResourceType, deviceRegistered, &failure)) {
            CvLog(CV_LOG_ERROR, "%s", failure.message);
            std::lock_guard lock(adapter.mutex);
            adapter.devices.pop_back();
            break;
        }
    }
    return CvSetNoError(error);
}

}  // namespace storelib_plugin
