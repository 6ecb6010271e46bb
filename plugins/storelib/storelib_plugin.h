// The plug-in's state: the libraries, the adapters with their drives, the
// drive-location filter and the two hot-plug listeners that give drives their
// device service and adapters their "mpi/adapter" service.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <corvane.h>

#include "storelib_library.h"
#include "storelib_records.h"

namespace storelib_plugin {

inline constexpr const char* kAdapterResourceType = "storelib/adapter";
inline constexpr const char* kDeviceResourceType = "storelib/device";
inline constexpr const char* kFilterSetting = "DriveLocationFilter";
inline constexpr const char* kDirectorySetting = "StoreLibDirectory";

class StoreLibPlugin {
public:
    int load(const StringMap* settings, CvError* error);
    int unload(CvError* error);

private:
    // Enumeration, once at load: every controller of every library that
    // initialised, then the drives of each.
    void enumerate();
    void addAdapter(uint32_t controllerId);
    int listDrives(AdapterRecord& adapter, CvError* error);
    // "s<location>n<slot>" of a drive on this adapter.
    static std::string driveLocation(const AdapterRecord& adapter, uint8_t slot);
    int unregisterAll(CvError* error);

    void addListeners();
    void removeListeners();
    static void adapterAdded(void* userData, CvUID resource, const CvResourceInfo* info);
    static void driveAdded(void* userData, CvUID resource, const CvResourceInfo* info);
    // Whether the record is one of this plug-in's, while it runs.
    bool owns(const DeviceRecord* device);
    // The record a resource's type data points at, when the resource has that type.
    static void* recordOf(CvUID resource, const char* type);

    StoreLibLibraries libraries_;
    std::string filter_;
    std::mutex mutex_;  // the running flag and the adapter list
    bool running_ = false;
    std::vector<std::unique_ptr<AdapterRecord>> adapters_;
    CvHotplugListener driveListener_{};
    CvHotplugListener adapterListener_{};
};

}  // namespace storelib_plugin
