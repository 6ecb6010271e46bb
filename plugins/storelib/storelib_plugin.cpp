// cvpl-storelib: drives behind LSI SAS host bus adapters and MegaRAID
// controllers, reached through the StoreLib libraries.
#include "storelib_plugin.h"

#include <algorithm>

#include "storelib_services.h"

namespace storelib_plugin {

int StoreLibPlugin::load(const StringMap* settings, CvError* error) {
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    filter_ = StringMap_GetString(settings, kFilterSetting, "");
    std::string directory = StringMap_GetString(settings, kDirectorySetting, "");
    CvError startError{};
    // A machine without any of the libraries is no error: it has no such controllers.
    if (!libraries_.start(directory, &startError)) CvLog(CV_LOG_WARNING, "%s", startError.message);
    addListeners();
    enumerate();
    return CvSetNoError(error);
}

int StoreLibPlugin::unload(CvError* error) {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // The listeners go first: one still running could be using a record that
    // the unregistration below frees.
    removeListeners();
    if (!unregisterAll(error)) return 0;
    return libraries_.stop(error);
}

int StoreLibPlugin::unregisterAll(CvError* error) {
    std::vector<std::unique_ptr<AdapterRecord>> adapters;
    {
        std::lock_guard lock(mutex_);
        adapters.swap(adapters_);
    }
    auto gone = [](CvUID resource, CvError* failure) {
        // A resource someone else already removed is gone all the same.
        return resource == CV_UID_NONE || CvResourceManager_Unregister(resource, failure) ||
               failure->code == CV_ERROR_NOT_FOUND;
    };
    CvError failure{};
    auto next = adapters.begin();
    for (; next != adapters.end(); ++next) {
        AdapterRecord& adapter = **next;
        std::lock_guard lock(adapter.mutex);
        auto& devices = adapter.devices;
        auto kept = std::find_if(devices.begin(), devices.end(),
                                 [&](const auto& device) { return !gone(device->resource, &failure); });
        devices.erase(devices.begin(), kept);
        if (!devices.empty() || !gone(adapter.resource, &failure)) break;
    }
    adapters.erase(adapters.begin(), next);
    if (adapters.empty()) return CvSetNoError(error);
    // What could not be taken down stays listed, records and all.
    std::lock_guard lock(mutex_);
    adapters_.insert(adapters_.begin(), std::make_move_iterator(adapters.begin()),
                     std::make_move_iterator(adapters.end()));
    *error = failure;
    return 0;
}

void StoreLibPlugin::addListeners() {
    driveListener_ = CvHotplugListener{};
    driveListener_.userData = this;
    driveListener_.resourceAdded = driveAdded;
    adapterListener_ = CvHotplugListener{};
    adapterListener_.userData = this;
    adapterListener_.resourceAdded = adapterAdded;
    CvHotplugEventManager_AddListener(&driveListener_);
    CvHotplugEventManager_AddListener(&adapterListener_);
}

void StoreLibPlugin::removeListeners() {
    CvHotplugEventManager_RemoveListener(&driveListener_);
    CvHotplugEventManager_RemoveListener(&adapterListener_);
}

void* StoreLibPlugin::recordOf(CvUID resource, const char* type) {
    CvResourceTypeInfo typeInfo{};
    CvError error{};
    if (!CvResource_GetTypeInfo(resource, &typeInfo, &error) || typeInfo.typeData == nullptr) return nullptr;
    typeInfo.typeName[sizeof typeInfo.typeName - 1] = '\0';
    if (std::strcmp(typeInfo.typeName, type) != 0) return nullptr;
    void* record = nullptr;
    std::memcpy(&record, typeInfo.typeData, sizeof record);
    return record;
}

void StoreLibPlugin::adapterAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
    auto* plugin = static_cast<StoreLibPlugin*>(userData);
    auto* adapter = static_cast<AdapterRecord*>(recordOf(resource, kAdapterResourceType));
    if (adapter == nullptr) return;
    {
        std::lock_guard lock(plugin->mutex_);
        bool ours = std::any_of(plugin->adapters_.begin(), plugin->adapters_.end(),
                                [&](const auto& listed) { return listed.get() == adapter; });
        if (!plugin->running_ || !ours) return;
    }
    CvServiceDescriptor service = mpiAdapterServiceFor(*adapter);
    CvUID uid = CV_UID_NONE;
    CvError error{};
    if (!CvResource_RegisterService(resource, &service, &uid, &error)) CvLog(CV_LOG_WARNING, "%s", error.message);
}

bool StoreLibPlugin::owns(const DeviceRecord* device) {
    std::lock_guard lock(mutex_);
    if (!running_) return false;
    for (const auto& adapter : adapters_) {
        std::lock_guard adapterLock(adapter->mutex);
        for (const auto& listed : adapter->devices) {
            if (listed.get() == device) return true;
        }
    }
    return false;
}

void StoreLibPlugin::driveAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
    auto* plugin = static_cast<StoreLibPlugin*>(userData);
    auto* device = static_cast<DeviceRecord*>(recordOf(resource, kDeviceResourceType));
    if (device == nullptr) return;
    if (!plugin->owns(device)) return;
    CvServiceDescriptor service{};
    switch (device->interfaceClass()) {
    case STORELIB_INTERFACE_SAS_1:
    case STORELIB_INTERFACE_SAS: service = scsiServiceFor(*device); break;
    case STORELIB_INTERFACE_SATA: service = ataServiceFor(*device); break;
    default: return;
    }
    CvUID uid = CV_UID_NONE;
    CvError error{};
    if (!CvResource_RegisterService(resource, &service, &uid, &error)) CvLog(CV_LOG_WARNING, "%s", error.message);
}

namespace {

StoreLibPlugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* settings, CvError* error) { return g_plugin.load(settings, error); }
int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace
}  // namespace storelib_plugin

CV_DEFINE_PLUGIN("StoreLib Plugin", "Provides access to devices through the LSI StoreLib interface", "1.12.7.3",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost",
                 storelib_plugin::load, storelib_plugin::unload);
