// The service descriptor of a unit and the dispatch by drive kind.
#include "device_unit.h"

#include <cstring>

namespace cvpl_simdrive {

namespace {

int32_t contractKind(simdrive::DriveKind kind) {
    switch (kind) {
    case simdrive::DriveKind::Ata: return DEVICE_CONTRACT_ATA;
    case simdrive::DriveKind::Scsi: return DEVICE_CONTRACT_SCSI;
    case simdrive::DriveKind::Nvme: return DEVICE_CONTRACT_NVME;
    }
    return -1;
}

// The service type a drive of this kind offers.
const char* serviceTypeFor(simdrive::DriveKind kind) {
    switch (kind) {
    case simdrive::DriveKind::Ata: return ATA_DEVICE_SERVICE_TYPE;
    case simdrive::DriveKind::Scsi: return SCSI_DEVICE_SERVICE_TYPE;
    case simdrive::DriveKind::Nvme: return NVME_DEVICE_SERVICE_TYPE;
    }
    return "";
}

int Execute(void* userData, CvCommand* command, CvError* error) {
    return executeOnUnit(*static_cast<DeviceUnit*>(userData), command, error);
}

// Commands run to their end inside execute; nothing is queued.
int Submit(void*, CvCommand*, CvCommandCompletion*, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Submitting commands not supported yet");
}

int Abort(void*, uint32_t, CvError* error) {
    return CvSetError(error, CV_ERROR_FAILED, "Aborting commands not supported yet");
}

}  // namespace

DeviceUnit::DeviceUnit(std::shared_ptr<simdrive::SimDrive> simulated, uint32_t path)
    : drive(std::move(simulated)), nexus(path) {
    DeviceContract_InitRules(&rules, contractKind(drive->kind()));
}

CvServiceDescriptor serviceDescriptorFor(DeviceUnit& unit) {
    CvServiceDescriptor descriptor{};
    std::strncpy(descriptor.info.type, serviceTypeFor(unit.drive->kind()), sizeof descriptor.info.type - 1);
    descriptor.userData = &unit;
    descriptor.execute = Execute;
    descriptor.submit = Submit;
    descriptor.abort = Abort;
    return descriptor;
}

int executeOnUnit(DeviceUnit& unit, CvCommand* command, CvError* error) {
    switch (unit.drive->kind()) {
    case simdrive::DriveKind::Ata: return executeAtaCommand(unit, command, error);
    case simdrive::DriveKind::Scsi: return executeScsiCommand(unit, command, error);
    case simdrive::DriveKind::Nvme: return executeNvmeCommand(unit, command, error);
    }
    return CvSetError(error, CV_ERROR_INTERNAL, "Unknown drive kind");
}

}  // namespace cvpl_simdrive
