// arcshim: the drive table over the SDK's object tree, and SCSI commands to a
// drive by its index in the table.
#include "arcshim/arcshim.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "arcsdk/storlib_sdk.h"

// The four entry points keep the signatures their callers were built against.
static_assert(std::is_same_v<decltype(&adaptec_initializeLibrary), void (*)()>);
static_assert(std::is_same_v<decltype(&adaptec_getNumHardDrives), int (*)()>);
static_assert(std::is_same_v<decltype(&adaptec_scsiPassThruCommand),
                             int (*)(uint32_t, const uint8_t*, int, uint8_t*, uint32_t, int)>);
static_assert(std::is_same_v<decltype(&adaptec_uninitializeLibrary), void (*)()>);
// The SDK's result: the code comes first.
static_assert(offsetof(arcSDK::Ret, code) == 0 && sizeof(arcSDK::Ret) == 8);
static_assert(arcSDK::SCSICommand::DataIn == ARCSHIM_DATA_FROM_DRIVE &&
              arcSDK::SCSICommand::DataOut == ARCSHIM_DATA_TO_DRIVE && arcSDK::SCSICommand::NoData == ARCSHIM_NO_DATA);

namespace {

constexpr uint32_t kConfigurationSize = 65536;
constexpr const char* kHardDriveClass = "HardDrive";

// Written by initialisation and uninitialisation only, which the plug-in calls
// from its load and unload entry points; commands read it without a lock.
std::unique_ptr<arcSDK::StorLibSDK> g_sdk;
std::vector<arcSDK::HardDrive*> g_drives;

// Depth first: a child's own children before the child itself.
void collectDrives(const arcSDK::RaidObject& parent) {
    for (arcSDK::RaidObject* child : parent.getChildren()) {
        if (child == nullptr) continue;
        collectDrives(*child);
        if (child->isA(kHardDriveClass)) g_drives.push_back(static_cast<arcSDK::HardDrive*>(child));
    }
}

}  // namespace

extern "C" {

void adaptec_initializeLibrary(void) {
    // A second initialisation starts from an empty table rather than listing every drive twice.
    g_drives.clear();
    if (!g_sdk) g_sdk = std::make_unique<arcSDK::StorLibSDK>();
    arcSDK::StorLib* lib = g_sdk->getLibHandle();
    arcSDK::RaidObject* system = nullptr;
    if (lib != nullptr) {
        arcSDK::Buffer configuration(kConfigurationSize);
        lib->getSystemConfig(configuration, &system);
    }
    if (system == nullptr) {
        std::fputs("Adaptec system not found...\n", stderr);
        return;
    }
    collectDrives(*system);
}

int adaptec_getNumHardDrives(void) { return static_cast<int>(g_drives.size()); }

int adaptec_scsiPassThruCommand(uint32_t driveIndex, const uint8_t* cdb, int cdbLength, uint8_t* data,
                                uint32_t dataLength, int direction) {
    if (driveIndex >= g_drives.size() || g_drives[driveIndex] == nullptr) {
        std::printf("Error, could not find drive at index %u\n", driveIndex);
        std::fflush(stdout);
        return ARCSHIM_NO_SUCH_DRIVE;
    }
    arcSDK::Buffer cdbBuffer(cdbLength > 0 ? static_cast<uint32_t>(cdbLength) : 0);
    if (cdbLength > 0 && cdb != nullptr) std::memcpy(cdbBuffer.data(), cdb, static_cast<std::size_t>(cdbLength));
    arcSDK::SCSICommand command(cdbBuffer, direction);
    arcSDK::Buffer dataBuffer(dataLength);
    const bool moves = data != nullptr && dataLength != 0;
    if (direction == ARCSHIM_DATA_TO_DRIVE) {
        if (moves) std::memcpy(dataBuffer.data(), data, dataLength);
        command.setWriteData(dataBuffer);
    } else if (direction == ARCSHIM_DATA_FROM_DRIVE) {
        command.setReadData(dataBuffer);
    }
    const arcSDK::Ret result = g_drives[driveIndex]->SCSIPassThru(command);
    if (direction == ARCSHIM_DATA_FROM_DRIVE && result.code == 0 && moves)
        std::memcpy(data, dataBuffer.data(), dataLength);
    return result.code;
}

void adaptec_uninitializeLibrary(void) {
    g_drives.clear();
    g_sdk.reset();
}

}  // extern "C"
