// A stand-in for the StoreLib libraries, built once per family under the
// family's library name for tests and the demo: its controllers and drives come
// from a farm file (storelib_farm.h), its drives from the drive simulator. It
// exports the command entry point and, for tests, what the last command carried.
#pragma once

#include <cstdint>

#include "storelib/storelib_api.h"

#define SIM_STORELIB_API extern "C" __attribute__((visibility("default")))

// Statuses of the stand-in besides success.
inline constexpr uint32_t kSimStatusBadCommand = 0x8001;
inline constexpr uint32_t kSimStatusNotInitialized = 0x8002;
inline constexpr uint32_t kSimStatusNoController = 0x8003;
inline constexpr uint32_t kSimStatusNoDevice = 0x8004;
inline constexpr uint32_t kSimStatusBadData = 0x8005;
inline constexpr uint32_t kSimStatusDeviceGone = 0x800C;
inline constexpr uint32_t kSimStatusInitializeRefused = 0x8010;

inline constexpr uint32_t kSimObservedRequestSize = 80;

// The last pass-through command: its record and the first bytes of its request.
struct SimStoreLibObserved {
    StoreLibCommandRecord command;
    uint8_t request[kSimObservedRequestSize];
    uint32_t passThroughCalls;
};

#define SIM_STORELIB_OBSERVED_SYMBOL "SimStoreLib_Observed"
typedef void (*SimStoreLibObservedFunction)(SimStoreLibObserved* observed);
