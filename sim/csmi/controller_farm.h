// The drives of a simulated controller farm, read from a properties file
// written like the drive simulator plug-in's INI section:
//
//   Drives=vt-sata1,vt-sas1
//   Drive.vt-sata1=kind=ata; model=VT-2000 Series; serial=CSA0001; revision=VT01; oui=0x02A001
//   Drive.vt-sas1=kind=scsi; vendor=VT; product=SAS-900; serial=CSS0001; revision=VT01; wwn=0x502A002000000001
//   StateDir=csmi-state        firmware state kept across runs (relative to the working directory)
//
// and the controllers' own keys, which each simulation reads (csmi_farm.h,
// the SDK's sim_storlib.h).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <cvcrt.h>

#include "simdrive/drive.h"

namespace simdrive {

class ControllerFarm {
public:
    // Reads the file and builds every drive; false with a message naming the
    // file and the problem.
    bool load(const std::string& path, std::string& error);
    // The same from settings already read.
    bool load(const StringMap* settings, std::string& error);

    // The drive of that name (null when there is none).
    std::shared_ptr<SimDrive> drive(const std::string& name) const;
    // A setting of the file ("" when absent).
    std::string value(const std::string& key) const;
    // The comma-separated pieces of a setting, trimmed, blanks dropped.
    std::vector<std::string> list(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;  // keys in lower case
    std::map<std::string, std::shared_ptr<SimDrive>> drives_;
};

}  // namespace simdrive
