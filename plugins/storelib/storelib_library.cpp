// Loading, starting and stopping the StoreLib libraries.
#include "storelib_library.h"

#include <dlfcn.h>

#include <cstring>

#include <cvcrt.h>

namespace storelib_plugin {

namespace {

struct Family {
    const char* name;
    const char* library;  // null: no library
};
constexpr Family kFamilies[STORELIB_FAMILY_COUNT] = {
    {"MegaRAID SAS", STORELIB_LIBRARY_MEGARAID},
    {"IT/IR SAS-1", STORELIB_LIBRARY_SAS1},
    {"IT/IR SAS-2", STORELIB_LIBRARY_SAS2},
    {"Out-of-Band", nullptr},
    {"IT/IR SAS-3", STORELIB_LIBRARY_SAS3},
};
// The order in which the libraries are tried.
constexpr uint32_t kLibraryOrder[] = {0, 1, 2, 4};

// The first two dot-separated parts of a version text.
std::pair<std::string, std::string> versionParts(const char* text) {
    std::string version(text);
    std::size_t first = version.find('.');
    if (first == std::string::npos) return {version, ""};
    std::size_t second = version.find('.', first + 1);
    return {version.substr(0, first), version.substr(first + 1, second - first - 1)};
}

}  // namespace

const char* familyName(uint32_t libraryIndex) {
    return libraryIndex < STORELIB_FAMILY_COUNT ? kFamilies[libraryIndex].name : "unknown";
}

void StoreLibLibraries::load(uint32_t libraryIndex, const std::string& directory) {
    const char* file = kFamilies[libraryIndex].library;
    std::string path = directory.empty() ? file : directory + "/" + file;
    Slot& slot = slots_[libraryIndex];
    slot.handle = LibraryLoad(path.c_str());
    if (slot.handle == nullptr) {
        const char* reason = ::dlerror();
        CvLog(CV_LOG_DEBUG, "StoreLib %s library '%s' not loaded: %s", familyName(libraryIndex), path.c_str(),
              reason != nullptr ? reason : "not found");
        return;
    }
    slot.entry = reinterpret_cast<StoreLibCommandFunction>(LibraryFindSymbol(slot.handle, STORELIB_ENTRY_POINT));
    if (slot.entry == nullptr) {
        CvLog(CV_LOG_WARNING, "StoreLib %s library '%s' has no entry point '%s'", familyName(libraryIndex),
              path.c_str(), STORELIB_ENTRY_POINT);
        LibraryUnload(slot.handle);
        slot.handle = nullptr;
    }
}

int StoreLibLibraries::start(const std::string& directory, CvError* error) {
    bool any = false;
    for (uint32_t index : kLibraryOrder) {
        load(index, directory);
        uint8_t buffer[STORELIB_INITIALIZE_DATA_SIZE] = {};
        uint32_t status = send(index, STORELIB_CLASS_LIBRARY, STORELIB_LIBRARY_INITIALIZE, 0, 0, buffer, sizeof buffer);
        if (status != STORELIB_STATUS_SUCCESS) {
            CvLog(CV_LOG_WARNING, "Could not initialize StoreLib %s library, error 0x%X", familyName(index), status);
            continue;
        }
        slots_[index].initialized = true;
        any = true;
        char version[STORELIB_VERSION_DATA_SIZE + 1] = {};
        status = send(index, STORELIB_CLASS_LIBRARY, STORELIB_LIBRARY_VERSION, 0, 0, version,
                      STORELIB_VERSION_DATA_SIZE);
        if (status != STORELIB_STATUS_SUCCESS) {
            CvLog(CV_LOG_WARNING, "Could not get StoreLib %s library version, error 0x%X", familyName(index), status);
            continue;
        }
        auto [major, minor] = versionParts(version);
        CvLog(CV_LOG_INFO, "Initialized StoreLib %s version %s.%s", familyName(index), major.c_str(), minor.c_str());
    }
    if (!any) return CvSetError(error, CV_ERROR_FAILED, "Could not initialize StoreLib library");
    return CvSetNoError(error);
}

int StoreLibLibraries::stop(CvError* error) {
    bool refused = false;
    for (uint32_t index : kLibraryOrder) {
        if (!slots_[index].initialized) continue;
        uint32_t status = send(index, STORELIB_CLASS_LIBRARY, STORELIB_LIBRARY_UNINITIALIZE, 0, 0, nullptr, 0);
        slots_[index].initialized = false;
        if (status != STORELIB_STATUS_SUCCESS) {
            CvLog(CV_LOG_WARNING, "Could not uninitialize StoreLib %s, error 0x%X", familyName(index), status);
            refused = true;
        }
    }
    release();
    if (refused) return CvSetError(error, CV_ERROR_FAILED, "Could not uninitialize StoreLib library");
    return CvSetNoError(error);
}

void StoreLibLibraries::release() {
    for (Slot& slot : slots_) {
        if (slot.handle != nullptr) LibraryUnload(slot.handle);
        slot = Slot{};
    }
}

uint32_t StoreLibLibraries::send(uint32_t libraryIndex, StoreLibCommandRecord& command) const {
    if (libraryIndex >= STORELIB_FAMILY_COUNT || slots_[libraryIndex].entry == nullptr) {
        return STORELIB_STATUS_NO_LIBRARY;
    }
    return slots_[libraryIndex].entry(&command);
}

uint32_t StoreLibLibraries::send(uint32_t libraryIndex, uint8_t commandClass, uint8_t command, uint32_t controllerId,
                                 uint16_t deviceId, void* data, uint32_t dataSize) const {
    StoreLibCommandRecord record{};
    record.commandClass = commandClass;
    record.command = command;
    record.controllerId = controllerId;
    record.deviceId = deviceId;
    record.dataSize = dataSize;
    record.data = data;
    return send(libraryIndex, record);
}

}  // namespace storelib_plugin
