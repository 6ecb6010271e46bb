// What the plug-in keeps per controller and per physical drive. The records
// live from enumeration until unload; the resources' type data point at them.
#pragma once

#include <array>
#include <cstring>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <corvane.h>

#include "device/contract_check.h"
#include "storelib/storelib_api.h"

namespace storelib_plugin {

class StoreLibLibraries;
struct AdapterRecord;

inline constexpr uint64_t kDriveTimeoutNs = 20000000000ull;

struct DeviceRecord {
    CvUID resource = CV_UID_NONE;
    uint16_t deviceId = 0;
    std::array<uint8_t, STORELIB_DEVICE_INFO_SIZE> info{};
    AdapterRecord* adapter = nullptr;
    const StoreLibLibraries* libraries = nullptr;
    DeviceContractRules rules{};

    // Guards the service ID and the time-out.
    mutable std::mutex mutex;
    CvUID service = CV_UID_NONE;
    uint64_t timeoutNs = 0;  // set to kDriveTimeoutNs when the service gets its ID

    // The interface class: the top four bits of the 16-bit value at byte 188.
    uint8_t interfaceClass() const;
    uint64_t timeout() const;
    void setTimeout(uint64_t value);
};

struct AdapterRecord {
    CvUID resource = CV_UID_NONE;
    uint32_t controllerId = 0;
    uint32_t libraryIndex = 0;
    std::array<uint8_t, STORELIB_CONTROLLER_INFO_SIZE> controllerInfo{};
    std::array<uint8_t, STORELIB_PHY_INFO_SIZE> phyInfo{};
    const StoreLibLibraries* libraries = nullptr;

    // Guards the drive list.
    std::mutex mutex;
    std::vector<std::unique_ptr<DeviceRecord>> devices;
};

// The 8-byte type data of both resource kinds: a pointer to the record.
template <typename Record>
void* typeDataFor(Record* record) {
    void* data = CvAlloc(static_cast<int32_t>(sizeof record));
    if (data != nullptr) std::memcpy(data, &record, sizeof record);
    return data;
}

}  // namespace storelib_plugin
