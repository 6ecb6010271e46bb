// Creating simulated drives of each kind and powering them on.
#include "simdrive/ata_drive.h"
#include "simdrive/nvme_drive.h"
#include "simdrive/scsi_drive.h"

namespace simdrive {

std::unique_ptr<SimDrive> createDrive(const DriveDescription& description, std::shared_ptr<const StateStore> store,
                                      std::string& error) {
    std::unique_ptr<SimDrive> drive;
    switch (description.kind) {
    case DriveKind::Ata: drive = std::make_unique<AtaDrive>(DriveConstruction(), description, std::move(store)); break;
    case DriveKind::Scsi: drive = std::make_unique<ScsiDrive>(DriveConstruction(), description, std::move(store)); break;
    case DriveKind::Nvme: drive = std::make_unique<NvmeDrive>(DriveConstruction(), description, std::move(store)); break;
    }
    if (!drive || !drive->powerOn(error)) return nullptr;
    return drive;
}

}  // namespace simdrive
