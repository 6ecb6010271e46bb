// Loading and unloading cvpl-adaptec: arcshim's drive table becomes one
// "adaptec/device" resource per drive, and each drive gets the service its
// answer to a SAT IDENTIFY DEVICE calls for.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "adaptec_device.h"
#include "arcshim/arcshim.h"

namespace adaptec {

namespace {

constexpr const char* kResourceType = "adaptec/device";

int disposeNothing(void*, CvError* error) { return CvSetNoError(error); }

CvServiceDescriptor serviceDescriptor(Device& device, bool ata) {
    CvServiceDescriptor service{};
    std::snprintf(service.info.type, sizeof service.info.type, "%s",
                  ata ? ATA_DEVICE_SERVICE_TYPE : SCSI_DEVICE_SERVICE_TYPE);
    service.userData = &device;
    service.registered = [](void* userData, CvUID id) { static_cast<Device*>(userData)->service = id; };
    service.dispose = disposeNothing;
    if (ata) {
        service.execute = [](void* userData, CvCommand* command, CvError* error) {
            return executeAta(*static_cast<Device*>(userData), command, error);
        };
        service.submit = [](void*, CvCommand*, CvCommandCompletion*, CvError* error) {
            return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported yet");
        };
        service.abort = [](void*, uint32_t, CvError* error) {
            return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported yet");
        };
    } else {
        service.execute = [](void* userData, CvCommand* command, CvError* error) {
            return executeScsi(*static_cast<Device*>(userData), command, error);
        };
        service.submit = [](void*, CvCommand*, CvCommandCompletion*, CvError* error) {
            return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported");
        };
        service.abort = [](void*, uint32_t, CvError* error) {
            return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported");
        };
    }
    return service;
}

class Plugin {
public:
    int load(CvError* error) {
        listener_ = {};
        listener_.userData = this;
        listener_.resourceAdded = resourceAdded;
        {
            std::lock_guard lock(mutex_);
            running_ = true;
        }
        CvHotplugEventManager_AddListener(&listener_);
        adaptec_initializeLibrary();
        std::lock_guard lock(mutex_);
        const int drives = adaptec_getNumHardDrives();
        for (int i = 0; i < drives; ++i) registerDrive(static_cast<uint32_t>(i));
        return CvSetNoError(error);
    }

    int unload(CvError* error) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        // With the flag cleared no listener looks at the records again, and
        // unregistering, which waits for commands in progress, runs without
        // the lock. Table order; what cannot be taken down stays listed.
        while (!devices_.empty()) {
            Device& device = *devices_.front();
            CvError failure{};
            if (!CvResourceManager_Unregister(device.resource, &failure))
                return CvSetError(error, CV_ERROR_FAILED, "Failed to unregister resource %d from resource manager",
                                  static_cast<int>(device.resource.load()));
            devices_.erase(devices_.begin());
        }
        adaptec_uninitializeLibrary();
        CvHotplugEventManager_RemoveListener(&listener_);
        return CvSetNoError(error);
    }

private:
    void registerDrive(uint32_t index) {
        auto device = std::make_unique<Device>(index);
        CvResourceDescriptor resource{};
        std::snprintf(resource.info.name, sizeof resource.info.name, "Adaptec:p%u", index);
        std::snprintf(resource.info.description, sizeof resource.info.description, "Drive controlled by Adaptec library");
        std::snprintf(resource.typeInfo.typeName, sizeof resource.typeInfo.typeName, "%s", kResourceType);
        Device* record = device.get();
        void* block = CvAlloc(sizeof record);
        if (block != nullptr) std::memcpy(block, &record, sizeof record);
        resource.typeInfo.typeData = block;
        resource.userData = record;
        resource.registered = [](void* userData, CvUID id) { static_cast<Device*>(userData)->resource = id; };
        resource.dispose = disposeNothing;
        CvError error{};
        CvUID uid = CV_UID_NONE;
        if (!CvResourceManager_Register(&resource, &uid, &error)) {
            CvLog(CV_LOG_ERROR, "%s", error.message);
            return;
        }
        device->resource = uid;
        devices_.push_back(std::move(device));
    }

    static void resourceAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
        CvResourceTypeInfo type{};
        CvError error{};
        if (!CvResource_GetTypeInfo(resource, &type, &error) || std::strcmp(type.typeName, kResourceType) != 0 ||
            type.typeData == nullptr)
            return;
        Device* record = nullptr;
        std::memcpy(&record, type.typeData, sizeof record);
        static_cast<Plugin*>(userData)->classify(resource, record);
    }

    void classify(CvUID resource, Device* record) {
        std::lock_guard lock(mutex_);
        // Only a record of this load, while it runs.
        if (!running_) return;
        bool known = false;
        for (const auto& device : devices_) known = known || device.get() == record;
        if (!known) return;
        CvServiceDescriptor service = serviceDescriptor(*record, answersAta(record->index));
        CvError error{};
        CvUID uid = CV_UID_NONE;
        if (!CvResource_RegisterService(resource, &service, &uid, &error)) CvLog(CV_LOG_WARNING, "%s", error.message);
    }

    std::mutex mutex_;  // the running flag and the device records
    bool running_ = false;
    std::vector<std::unique_ptr<Device>> devices_;
    CvHotplugListener listener_{};
};

Plugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* /*settings*/, CvError* error) { return g_plugin.load(error); }
int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace

}  // namespace adaptec

CV_DEFINE_PLUGIN("Adaptec Plugin", "Provides raw access to ATA targets using the Storlib interface", "1.12.7.3",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost", adaptec::load,
                 adaptec::unload);
