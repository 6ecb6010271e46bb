// Loading and unloading cvpl-csmi: probing the ports, registering adapters and
// their end devices, and giving the registered resources their services.
#include "csmi_plugin.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>

#include "csmi_request.h"
#include "kernel_io/kernel_io.h"

namespace csmi {

namespace {

constexpr const char* kAdapterType = "csmi/adapter";
constexpr const char* kDeviceType = "csmi/device";
constexpr const char* kPortNodeSetting = "PortNode";

template <std::size_t N>
void copyText(char (&field)[N], const char* text) {
    std::snprintf(field, N, "%s", text);
}

// Type data of both resource types: an 8-byte block holding the record's address.
void* recordBlock(void* record) {
    void* block = CvAlloc(sizeof record);
    if (block != nullptr) std::memcpy(block, &record, sizeof record);
    return block;
}

void* recordOf(const CvResourceTypeInfo& type) {
    void* record = nullptr;
    if (type.typeData != nullptr) std::memcpy(&record, type.typeData, sizeof record);
    return record;
}

int disposeNothing(void*, CvError* error) { return CvSetNoError(error); }

// Fills the resource descriptor that both resource types share.
CvResourceDescriptor resourceDescriptor(const char* type, void* record, CvResourceRegisteredFunction registered) {
    CvResourceDescriptor resource{};
    copyText(resource.typeInfo.typeName, type);
    resource.typeInfo.typeData = recordBlock(record);
    resource.userData = record;
    resource.registered = registered;
    resource.dispose = disposeNothing;
    return resource;
}

uint8_t portIdentifierOf(const CsmiPhyEntry& phy) {
    return phy.portIdentifier == CSMI_PORT_IDENTIFIER_UNKNOWN ? phy.identify.phyIdentifier : phy.portIdentifier;
}

}  // namespace

bool Plugin::setUpAdapter(int number, int fd) {
    auto adapter = std::make_unique<Adapter>();
    adapter->number = number;
    adapter->fd = fd;
    char name[CV_RESOURCE_NAME_SIZE];
    std::snprintf(name, sizeof name, "csmi:scsi%d", number);
    CvResourceDescriptor resource = resourceDescriptor(
        kAdapterType, adapter.get(), [](void* userData, CvUID id) { static_cast<Adapter*>(userData)->resource = id; });
    copyText(resource.info.name, name);
    copyText(resource.info.description, "Common Storage Management Interface adapter plugin");
    CvError error{};
    CvUID uid = CV_UID_NONE;
    if (!CvResourceManager_Register(&resource, &uid, &error)) {
        CvLog(CV_LOG_ERROR, "%s", error.message);
        return false;
    }
    adapter->resource = uid;
    Adapter& added = *adapter;
    adapters_.push_back(std::move(adapter));
    listPhys(added);
    return true;
}

void Plugin::listPhys(Adapter& adapter) {
    std::lock_guard lock(adapter.mutex);
    std::vector<uint8_t> buffer = makeRequest(CSMI_PHY_INFO_BUFFER_SIZE, CSMI_CC_GET_PHY_INFO);
    uint64_t durationNs = 0;
    if (sendRequest(adapter.fd, buffer, durationNs) != 0 || headerOf(buffer).returnCode != CSMI_STATUS_SUCCESS) {
        CvLog(CV_LOG_ERROR, "csmi %d: the phy information could not be read", adapter.number);
        return;
    }
    CsmiPhyInfoBuffer info{};
    std::memcpy(&info, buffer.data(), sizeof info);
    CvLog(CV_LOG_DEBUG, "csmi %d has %d phys connected to it", adapter.number, info.numberOfPhys);
    const int phys = info.numberOfPhys < CSMI_MAX_PHYS ? info.numberOfPhys : CSMI_MAX_PHYS;
    for (int i = 0; i < phys; ++i) {
        const CsmiPhyEntry& phy = info.phys[i];
        if (phy.attached.deviceType != CSMI_DEVICE_END_DEVICE) continue;
        std::unique_ptr<Device> device = makeDevice(adapter);
        device->phyIdentifier = phy.attached.phyIdentifier;
        device->portIdentifier = portIdentifierOf(phy);
        std::memcpy(device->sasAddress.data(), phy.attached.sasAddress, device->sasAddress.size());
        device->targetProtocol = phy.attached.targetProtocol;
        CvLog(CV_LOG_DEBUG, "Setting up port %d / phy %d", device->portIdentifier, device->phyIdentifier);

        CvResourceDescriptor resource = resourceDescriptor(
            kDeviceType, device.get(), [](void* userData, CvUID id) { static_cast<Device*>(userData)->resource = id; });
        std::snprintf(resource.info.name, sizeof resource.info.name, "csmi:scsi%d:port%d:phy%d", adapter.number,
                      device->portIdentifier, device->phyIdentifier);
        copyText(resource.info.description, "Common Storage Management Interface pass through plugin");
        CvError error{};
        CvUID uid = CV_UID_NONE;
        if (!CvResourceManager_Register(&resource, &uid, &error)) {
            CvLog(CV_LOG_ERROR, "%s", error.message);
            return;
        }
        device->resource = uid;
        adapter.devices.push_back(std::move(device));
    }
}

bool Plugin::enumerate() {
    bool found = false;
    for (int number = 0; number < kPortCount; ++number) {
        const std::string node = portNode(portNode_, number);
        const int fd = KernelIo_Open(node.c_str(), O_RDWR);
        if (fd < 0) continue;
        // Only a driver that knows the request answers it; anything else is
        // closed again untouched.
        std::vector<uint8_t> buffer =
            makeRequest(CSMI_DRIVER_INFO_BUFFER_SIZE, CSMI_CC_GET_DRIVER_INFO, CSMI_SIGNATURE_ALL);
        uint64_t durationNs = 0;
        if (sendRequest(fd, buffer, durationNs) != 0 || headerOf(buffer).returnCode != CSMI_STATUS_SUCCESS ||
            !setUpAdapter(number, fd)) {
            KernelIo_Close(fd);
            continue;
        }
        found = true;
    }
    return found;
}

bool Plugin::known(const void* record) const {
    for (const auto& adapter : adapters_) {
        if (adapter.get() == record) return true;
        for (const auto& device : adapter->devices)
            if (device.get() == record) return true;
    }
    return false;
}

void Plugin::attachServices(CvUID resource, const char* wantedType) {
    CvResourceTypeInfo type{};
    CvError failure{};
    if (!CvResource_GetTypeInfo(resource, &type, &failure) || std::strcmp(type.typeName, wantedType) != 0) return;
    const bool adapterType = std::strcmp(type.typeName, kAdapterType) == 0;
    std::lock_guard lock(mutex_);
    // An event that arrives after unload began, or for a record of an earlier
    // load, must not reach a record that is gone.
    void* record = recordOf(type);
    if (!running_ || record == nullptr || !known(record)) return;
    CvError error{};
    CvUID service = CV_UID_NONE;
    if (adapterType) {
        CvServiceDescriptor descriptor = adapterService(*static_cast<Adapter*>(record));
        if (!CvResource_RegisterService(resource, &descriptor, &service, &error))
            CvLog(CV_LOG_WARNING, "%s", error.message);
        return;
    }
    Device& device = *static_cast<Device*>(record);
    CvServiceDescriptor descriptor = deviceService(device);
    if (!CvResource_RegisterService(resource, &descriptor, &service, &error)) {
        CvLog(CV_LOG_WARNING, "%s", error.message);
        return;
    }
    descriptor = device.sata() ? ataService(device) : scsiService(device);
    if (!CvResource_RegisterService(resource, &descriptor, &service, &error))
        CvLog(CV_LOG_WARNING, "%s", error.message);
}

void Plugin::adapterAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
    static_cast<Plugin*>(userData)->attachServices(resource, kAdapterType);
}

void Plugin::deviceAdded(void* userData, CvUID resource, const CvResourceInfo* /*info*/) {
    static_cast<Plugin*>(userData)->attachServices(resource, kDeviceType);
}

int Plugin::load(const StringMap* settings, CvError* error) {
    std::string pattern = kDefaultPortNode;
    if (settings != nullptr) pattern = StringMap_GetString(settings, kPortNodeSetting, kDefaultPortNode);
    if (!validPortPattern(pattern))
        return CvSetError(error, CV_ERROR_INVALID_INPUT,
                          "Setting '%s': '%s' must name the port nodes with exactly one %%d and no other %%",
                          kPortNodeSetting, pattern.c_str());
    // The listeners are added and removed without the plug-in's lock: the work
    // thread delivers events under the event manager's lock and then takes ours.
    deviceListener_ = {};
    deviceListener_.userData = this;
    deviceListener_.resourceAdded = deviceAdded;
    adapterListener_ = {};
    adapterListener_.userData = this;
    adapterListener_.resourceAdded = adapterAdded;
    CvHotplugEventManager_AddListener(&deviceListener_);
    CvHotplugEventManager_AddListener(&adapterListener_);
    {
        std::lock_guard lock(mutex_);
        portNode_ = pattern;
        running_ = true;
        if (enumerate()) return CvSetNoError(error);
        running_ = false;
    }
    CvHotplugEventManager_RemoveListener(&deviceListener_);
    CvHotplugEventManager_RemoveListener(&adapterListener_);
    return CvSetError(error, CV_ERROR_NOT_FOUND, "No CSMI port found (probed %s for 0 to %d)", pattern.c_str(),
                      kPortCount - 1);
}

int Plugin::takeDown(CvError* error) {
    while (!adapters_.empty()) {
        Adapter& adapter = *adapters_.back();
        while (!adapter.devices.empty()) {
            if (!CvResourceManager_Unregister(adapter.devices.back()->resource, error)) return 0;
            adapter.devices.pop_back();
        }
        if (!CvResourceManager_Unregister(adapter.resource, error)) return 0;
        KernelIo_Close(adapter.fd);
        adapters_.pop_back();
    }
    return CvSetNoError(error);
}

int Plugin::unload(CvError* error) {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // With the flag cleared no listener looks at the records again, and
    // unregistering, which waits for commands in progress, runs without the
    // plug-in's lock. What cannot be taken down stays listed.
    if (!takeDown(error)) return 0;
    CvHotplugEventManager_RemoveListener(&deviceListener_);
    CvHotplugEventManager_RemoveListener(&adapterListener_);
    return 1;
}

namespace {

Plugin g_plugin;

int load(CvUID /*plugin*/, const StringMap* settings, CvError* error) { return g_plugin.load(settings, error); }
int unload(CvError* error) { return g_plugin.unload(error); }

}  // namespace

}  // namespace csmi

CV_DEFINE_PLUGIN("CSMI Plugin", "Provides support for Common Storage Management Interface", "1.12.4.0",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost", csmi::load,
                 csmi::unload);
