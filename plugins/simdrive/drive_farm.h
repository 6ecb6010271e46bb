// The simulated drives of one plug-in load and the resources that reach them:
// one resource per access path, each carrying the service of its drive's kind.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <corvane.h>

#include "device_unit.h"
#include "farm_settings.h"

namespace cvpl_simdrive {

class DriveFarm {
public:
    // Builds every drive, loading its persisted state; null with a message
    // naming the drive when one cannot be built. Registers nothing.
    static std::unique_ptr<DriveFarm> build(FarmSettings settings, std::string& error);

    DriveFarm(const DriveFarm&) = delete;
    DriveFarm& operator=(const DriveFarm&) = delete;
    ~DriveFarm() = default;

    // Registers a resource and its service per access path, drive by drive in
    // the listed order. On failure unregisters what it registered and returns 0.
    int registerAll(CvError* error);
    // Unregisters every resource still registered, waiting for commands in
    // progress. 0 with the first failure; those resources stay registered.
    int unregisterAll(CvError* error);

    // Replaces a drive's fault plan ("fault.<name>=value; ...").
    int setFaults(const char* driveName, const char* faults, CvError* error);

private:
    struct Drive {
        DriveSettings settings;
        std::shared_ptr<simdrive::SimDrive> simulated;
    };
    struct Path {
        std::unique_ptr<DeviceUnit> unit;
        std::string resourceName;
        CvUID resource = CV_UID_NONE;
    };

    DriveFarm() = default;
    int registerPath(const Drive& drive, Path& path, uint32_t index, CvError* error);

    std::vector<Drive> drives_;
    std::vector<Path> paths_;
};

}  // namespace cvpl_simdrive
