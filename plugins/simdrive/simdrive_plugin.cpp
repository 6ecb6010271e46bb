// cvpl-simdrive: simulated ATA, SCSI and NVMe drives, described in the plug-in's
// INI section (farm_settings.h), each reached through one or more resources
// that carry its "ata/device", "scsi/device" or "nvme/device" service.
#include <memory>
#include <mutex>
#include <string>

#include <corvane.h>

#include "drive_farm.h"
#include "farm_settings.h"
#include "simdrive_hooks.h"

namespace {

std::mutex stateMutex;
std::unique_ptr<cvpl_simdrive::DriveFarm> loadedFarm;  // guarded by stateMutex

int Load(CvUID, const StringMap* settings, CvError* error) {
    cvpl_simdrive::FarmSettings farmSettings;
    std::string problem;
    if (!cvpl_simdrive::parseFarmSettings(settings, farmSettings, problem)) {
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "%s", problem.c_str());
    }
    if (farmSettings.drives.empty()) CvLog(2, "Drive simulator: no drives configured (setting 'Drives')");
    std::unique_ptr<cvpl_simdrive::DriveFarm> farm = cvpl_simdrive::DriveFarm::build(std::move(farmSettings), problem);
    if (!farm) return CvSetThreadError(error, CV_ERROR_FAILED, "%s", problem.c_str());
    if (!farm->registerAll(error)) return 0;
    std::lock_guard lock(stateMutex);
    loadedFarm = std::move(farm);
    return CvSetNoThreadError(error);
}

// Resources are unregistered outside the lock: that waits for commands in
// progress, which never take it.
int Unload(CvError* error) {
    std::unique_ptr<cvpl_simdrive::DriveFarm> farm;
    {
        std::lock_guard lock(stateMutex);
        farm = std::move(loadedFarm);
    }
    if (!farm || farm->unregisterAll(error)) return CvSetNoThreadError(error);
    // Some resource would not go: stay loaded, keeping what it still uses.
    std::lock_guard lock(stateMutex);
    loadedFarm = std::move(farm);
    return 0;
}

}  // namespace

CV_DEFINE_PLUGIN("Drive Simulator Plugin",
                 "Presents simulated ATA, SCSI and NVMe drives as resources with device services", "1.0.0.0",
                 "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost", Load, Unload);

int SimDrivePlugin_SetFaults(const char* drive, const char* faults, CvError* error) {
    std::lock_guard lock(stateMutex);
    if (!loadedFarm) return CvSetError(error, CV_ERROR_NOT_FOUND, "No simulated drives are loaded");
    return loadedFarm->setFaults(drive, faults, error);
}
