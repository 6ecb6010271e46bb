// The StoreLib families and their libraries: loading each family's library,
// starting and stopping it, and sending it command records.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <corvane.h>

#include "storelib/storelib_api.h"

namespace storelib_plugin {

// The family name used in messages and descriptions ("MegaRAID SAS", ...).
const char* familyName(uint32_t libraryIndex);

class StoreLibLibraries {
public:
    StoreLibLibraries() = default;
    ~StoreLibLibraries() { release(); }
    StoreLibLibraries(const StoreLibLibraries&) = delete;
    StoreLibLibraries& operator=(const StoreLibLibraries&) = delete;

    // Loads each family's library, from directory when it is not empty and
    // through the dynamic loader's search path otherwise, and initialises it.
    // 0 with code 2 when none initialised.
    int start(const std::string& directory, CvError* error);
    // Uninitialises every library that initialised and unloads them all. 0 with
    // code 2 when one refused.
    int stop(CvError* error);

    bool initialized(uint32_t libraryIndex) const {
        return libraryIndex < STORELIB_FAMILY_COUNT && slots_[libraryIndex].initialized;
    }

    // Sends a command to a family's library: its status, STORELIB_STATUS_NO_LIBRARY
    // when the family has none. Called without plug-in locks held.
    uint32_t send(uint32_t libraryIndex, StoreLibCommandRecord& command) const;
    // A command of one class with its data.
    uint32_t send(uint32_t libraryIndex, uint8_t commandClass, uint8_t command, uint32_t controllerId,
                  uint16_t deviceId, void* data, uint32_t dataSize) const;

private:
    struct Slot {
        void* handle = nullptr;
        StoreLibCommandFunction entry = nullptr;
        bool initialized = false;
    };
    void load(uint32_t libraryIndex, const std::string& directory);
    void release();

    std::array<Slot, STORELIB_FAMILY_COUNT> slots_{};
};

}  // namespace storelib_plugin
