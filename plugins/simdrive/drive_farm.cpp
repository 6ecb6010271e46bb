// Building the drives and registering their resources and services.
#include "drive_farm.h"

#include <cstdio>
#include <strings.h>

#include "simdrive/state_store.h"

namespace cvpl_simdrive {

namespace {

constexpr const char* kResourceType = "simdrive/drive";

const char* kindLabel(simdrive::DriveKind kind) {
    switch (kind) {
    case simdrive::DriveKind::Ata: return "ATA";
    case simdrive::DriveKind::Scsi: return "SCSI";
    case simdrive::DriveKind::Nvme: return "NVMe";
    }
    return "";
}

// "simdrive:<name>" for the first path, "simdrive:<name>:<n>" for path n after it.
std::string resourceName(const std::string& drive, uint32_t index) {
    std::string name = "simdrive:" + drive;
    if (index > 0) name += ":" + std::to_string(index + 1);
    return name;
}

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::snprintf(field, N, "%s", text.c_str());
}

}  // namespace

std::unique_ptr<DriveFarm> DriveFarm::build(FarmSettings settings, std::string& error) {
    std::unique_ptr<DriveFarm> farm(new DriveFarm());
    std::shared_ptr<const simdrive::StateStore> store;
    if (!settings.stateDirectory.empty()) store = std::make_shared<const simdrive::StateStore>(settings.stateDirectory);
    for (DriveSettings& drive : settings.drives) {
        std::string problem;
        std::unique_ptr<simdrive::SimDrive> simulated = simdrive::createDrive(drive.description, store, problem);
        if (!simulated) {
            error = "Drive '" + drive.name + "' cannot be built: " + problem;
            return nullptr;
        }
        farm->drives_.push_back({std::move(drive), std::move(simulated)});
    }
    for (const Drive& drive : farm->drives_) {
        for (uint32_t index = 0; index < drive.settings.paths; ++index) {
            farm->paths_.push_back({std::make_unique<DeviceUnit>(drive.simulated, index),
                                    resourceName(drive.settings.name, index), CV_UID_NONE});
        }
    }
    return farm;
}

int DriveFarm::registerPath(const Drive& drive, Path& path, uint32_t index, CvError* error) {
    const simdrive::DriveDescription& description = drive.settings.description;
    CvResourceDescriptor resource{};
    copyText(resource.info.name, path.resourceName);
    std::string text = std::string("Simulated ") + kindLabel(description.kind) + " drive " +
                       description.displayModel() + ", serial " + description.serial;
    if (drive.settings.paths > 1) {
        text += ", path " + std::to_string(index + 1) + " of " + std::to_string(drive.settings.paths);
    }
    copyText(resource.info.description, text);
    copyText(resource.typeInfo.typeName, kResourceType);
    if (!CvResourceManager_Register(&resource, &path.resource, error)) return 0;
    CvServiceDescriptor service = serviceDescriptorFor(*path.unit);
    CvUID serviceUid = CV_UID_NONE;
    if (!CvResource_RegisterService(path.resource, &service, &serviceUid, error)) {
        CvError ignored{};
        if (CvResourceManager_Unregister(path.resource, &ignored)) path.resource = CV_UID_NONE;
        return 0;
    }
    return CvSetNoError(error);
}

int DriveFarm::registerAll(CvError* error) {
    std::size_t next = 0;
    for (const Drive& drive : drives_) {
        for (uint32_t index = 0; index < drive.settings.paths; ++index, ++next) {
            if (!registerPath(drive, paths_[next], index, error)) {
                CvError failure = *error;
                CvError ignored{};
                unregisterAll(&ignored);
                *error = failure;
                return 0;
            }
        }
        const auto& description = drive.settings.description;
        CvLog(3, "Simulated %s drive '%s' (%s, serial %s, firmware %s) reachable through %u resource(s)",
              kindLabel(description.kind), drive.settings.name.c_str(), description.displayModel().c_str(),
              description.serial.c_str(), drive.simulated->identity().revision.c_str(), drive.settings.paths);
    }
    return CvSetNoError(error);
}

int DriveFarm::unregisterAll(CvError* error) {
    CvError first{};
    for (Path& path : paths_) {
        if (path.resource == CV_UID_NONE) continue;
        CvError failure{};
        // A resource someone else already removed is gone all the same.
        if (CvResourceManager_Unregister(path.resource, &failure) || failure.code == CV_ERROR_NOT_FOUND) {
            path.resource = CV_UID_NONE;
        } else if (first.code == CV_ERROR_NONE) {
            first = failure;
        }
    }
    if (first.code != CV_ERROR_NONE) {
        *error = first;
        return 0;
    }
    return CvSetNoError(error);
}

int DriveFarm::setFaults(const char* driveName, const char* faults, CvError* error) {
    for (const Drive& drive : drives_) {
        if (driveName == nullptr || strcasecmp(drive.settings.name.c_str(), driveName) != 0) continue;
        simdrive::FaultPlan plan;
        std::string problem;
        if (!parseFaultPlan(drive.settings, faults, plan, problem)) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Faults for drive '%s': %s", drive.settings.name.c_str(),
                              problem.c_str());
        }
        drive.simulated->setFaults(plan);
        return CvSetNoError(error);
    }
    return CvSetError(error, CV_ERROR_NOT_FOUND, "No simulated drive named '%s'", driveName ? driveName : "");
}

}  // namespace cvpl_simdrive
