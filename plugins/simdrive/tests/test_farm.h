// The farm most tests run against.
#pragma once

namespace simdrive_plugin_test {

// ata0 takes segments of at most 64 blocks; sas0 is reached through two resources.
inline constexpr const char* kFarmSettings =
    "Drives=ata0, sas0, nvme0\n"
    "Drive.ata0=kind=ata; model=VT-2000 Series; serial=ATA0001; revision=VT01; oui=0x02A001; max_download_blocks=64\n"
    "Drive.sas0=kind=scsi; vendor=VT; product=SAS-900; serial=SAS0001; revision=V001; wwn=0x502A002123456789\n"
    "Paths.sas0=2\n"
    "Drive.nvme0=kind=nvme; model=VT NVMe 3000; serial=NVM0001; revision=NV01; oui=0x02A003; firmware_slots=3\n";

}  // namespace simdrive_plugin_test
