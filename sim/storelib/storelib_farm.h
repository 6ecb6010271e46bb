// The controllers and drives of the StoreLib stand-in, read from a properties
// file when a library is initialised:
//
//   StateDir=state                 keep the drives' firmware state here across runs
//   FailInitialize=sas2            families whose library refuses to initialise
//   Controller.mr0=family=megaraid; number=0; location=2
//                                  family: megaraid, sas1, sas2 or sas3; the
//                                  controller ID is the library index in the top
//                                  byte and number below it; location is the
//                                  text at byte 1424 of its information (default
//                                  the number)
//   Drive.d0=controller=mr0; device_id=8; slot=0; kind=ata; model=VT-2000 Series; ...
//                                  device_id (16 bits), slot (0 to 255), type
//                                  (device type, 0 a disk), interface (class 0 to
//                                  15; 3 for kind=ata, 2 for kind=scsi), and the
//                                  drive simulator's description
//                                  (simdrive/drive_description.h); without kind
//                                  no drive answers behind the entry
//
// The file is named by SIM_STORELIB_FARM, else "sim-storelib.properties" in the
// working directory; without either there are no controllers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simdrive/drive.h"

namespace simdrive::storelib {

inline constexpr const char* kFarmVariable = "SIM_STORELIB_FARM";
inline constexpr const char* kDefaultFarmFile = "sim-storelib.properties";

struct FarmDrive {
    uint16_t deviceId = 0;
    uint8_t slot = 0;
    uint8_t deviceType = 0;
    uint8_t interfaceClass = 0;
    std::shared_ptr<SimDrive> drive;  // null: nothing answers
};

struct FarmController {
    uint32_t id = 0;
    std::string location;
    std::vector<FarmDrive> drives;  // by slot
};

struct Farm {
    bool initializeFails = false;
    std::vector<FarmController> controllers;  // by ID
};

// The farm of one library (index 0, 1, 2 or 4). False with a message when the
// file cannot be read or describes something impossible.
bool loadFarm(uint32_t libraryIndex, Farm& farm, std::string& error);

}  // namespace simdrive::storelib
