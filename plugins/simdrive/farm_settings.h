// The settings of the drive simulator plug-in, read from its INI section:
//
//   [cvpl-simdrive]
//   Drives=ata0,sas0,nvme0        names of the drives to build, comma-separated
//   Drive.ata0=kind=ata; model=VT-2000 Series; serial=ATA0001; revision=VT01; oui=0x02A001
//                                 the drive's description (simdrive/drive_description.h),
//                                 "key=value" pieces separated by ';'
//   Paths.ata0=2                  resources (access paths) that reach the same drive, 1 to 8 (1)
//   StateDir=demo-state           keep every drive's firmware state in this directory
//                                 across runs (relative to the working directory);
//                                 without it drives start from their descriptions
//
// Names may hold letters, digits, '-', '_' and '.'; blanks around them are
// ignored. Keys are matched ignoring case, as the INI section does. Every
// problem is reported with the name of the setting it concerns.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cvcrt.h>

#include "simdrive/drive_description.h"

namespace cvpl_simdrive {

// "key=value" pieces in the order given, keys trimmed and unique ignoring case.
using DescriptionEntries = std::vector<std::pair<std::string, std::string>>;

struct DriveSettings {
    std::string name;
    simdrive::DriveDescription description;
    // The description as given, so that faults changed at run time are checked
    // against the same drive.
    DescriptionEntries entries;
    uint32_t paths = 1;
};

struct FarmSettings {
    std::string stateDirectory;  // empty: no persistence
    std::vector<DriveSettings> drives;
};

inline constexpr uint32_t kMaxPathsPerDrive = 8;

// Reads the section (null: no drives). False with a message naming the setting.
bool parseFarmSettings(const StringMap* settings, FarmSettings& farm, std::string& error);

// A new fault plan for a drive from "fault.<name>=value" pieces ("" clears every
// fault); the plan replaces the drive's current one. False with a message.
bool parseFaultPlan(const DriveSettings& drive, const char* text, simdrive::FaultPlan& faults, std::string& error);

}  // namespace cvpl_simdrive
