// The text a simulated drive is described by: key=value pairs, either in a
// StringMap (an INI section) or as text separated by ';' or line ends.
//
//   kind                   ata | scsi | nvme                         (required)
//   model                  ata, nvme: up to 40 characters            (required)
//   vendor, product        scsi: up to 8 and 16 characters           (required)
//   serial                 up to 20 characters, no blanks            (required)
//   revision               ata, nvme: up to 8, scsi: up to 4         (required)
//   wwn                    ata, scsi: 64-bit NAA-5 name (hex), 5xxxxxxxxxxxxxxx
//   oui                    24-bit IEEE OUI (hex); for ata and scsi without wwn
//                          it makes the name 5 <oui> <36 bits from the serial>
//   capacity_blocks        512-byte blocks                           (1953525168)
//   lba48                  ata: 48-bit addressing                     (yes)
//   min_download_blocks    ata: IDENTIFY word 234                     (1)
//   max_download_blocks    ata: IDENTIFY word 235 (128); scsi: largest WRITE
//                          BUFFER length in blocks (0: up to the image limit)
//   dma                    ata: DOWNLOAD MICROCODE DMA supported      (no)
//   deferred_download      ata, scsi: deferred download and activate  (yes)
//   firmware_update        nvme: firmware commands supported          (yes)
//   firmware_slots         nvme: 1 to 7                               (2)
//   slot1_read_only        nvme                                       (no)
//   activate_without_reset nvme: commit action 3 activates at once    (no)
//   activation_reset       nvme: the reset commit action 3 then asks for:
//                          conventional, subsystem or controller     (conventional)
//   fwug                   nvme: update granularity, 4 KiB units      (0)
//   namespaces             nvme: 1 or more                            (1)
//   fault.fail_segment, fault.fail_segment_always, fault.fail_download_attempts,
//   fault.fail_activate_attempts, fault.refuse_dma, fault.delay_ms, fault.gone,
//   fault.unit_attention_to_sender
//                          see FaultPlan
//
// Numbers are decimal or 0x-prefixed hex; switches are yes/no, true/false or 1/0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "simdrive/bus.h"
#include "simdrive/fault_plan.h"
#include "simdrive/nvme_bus.h"

struct StringMap;

namespace simdrive {

struct DriveDescription {
    DriveKind kind = DriveKind::Ata;
    std::string model;    // ata, nvme
    std::string vendor;   // scsi
    std::string product;  // scsi
    std::string serial;
    std::string revision;
    uint64_t wwn = 0;     // ata, scsi
    uint32_t oui = 0;     // nvme (and the OUI inside wwn for the others)
    uint64_t capacityBlocks = 1953525168;
    bool lba48 = true;
    uint16_t minDownloadBlocks = 1;
    uint16_t maxDownloadBlocks = 128;
    bool dma = false;
    bool deferredDownload = true;
    bool firmwareUpdate = true;
    uint8_t firmwareSlots = 2;
    bool slot1ReadOnly = false;
    bool activateWithoutReset = false;
    // Command specific status of a commit that committed but needs a reset.
    uint8_t activationResetStatus = nvme::kScActivationRequiresConventionalReset;
    uint8_t fwug = 0;
    uint32_t namespaces = 1;
    FaultPlan faults;

    // The model as hosts compose it (for SCSI: vendor, a blank, product), which
    // firmware images name by prefix.
    std::string displayModel() const;
    // Width of the revision field on this kind of drive.
    std::size_t revisionCapacity() const;
};

struct DescriptionError {
    std::string key;
    std::string problem;
    // "key 'revision': longer than 8 characters"
    std::string message() const;
};

// Reads every entry of the map; unknown keys and bad values are errors.
bool parseDriveDescription(const StringMap* map, DriveDescription& drive, DescriptionError& error);
bool parseDriveDescriptionText(std::string_view text, DriveDescription& drive, DescriptionError& error);

}  // namespace simdrive
