// cvpl-adaptec: drives behind the controller maker's RAID controllers, reached
// through arcshim. One "adaptec/device" resource per drive of arcshim's table;
// a drive that accepts a SAT IDENTIFY DEVICE gets "ata/device" (ATA commands
// travel as SAT ATA PASS-THROUGH (16) CDBs), any other "scsi/device".
#pragma once

#include <corvane.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "device/contract_check.h"

namespace adaptec {

inline constexpr int32_t kAtaAbilityCount = 10;

struct Device {
    std::atomic<CvUID> resource{CV_UID_NONE};
    uint32_t index = 0;  // in arcshim's drive table
    std::atomic<CvUID> service{CV_UID_NONE};
    std::array<AtaAbility, kAtaAbilityCount> ataAbilities{};
    std::array<ScsiAbility, DEVICE_SCSI_ABILITY_COUNT> scsiAbilities{};
    DeviceContractRules ataRules{};
    DeviceContractRules scsiRules{};

    explicit Device(uint32_t driveIndex);
};

// The SAT ATA PASS-THROUGH (16) CDB of an "ata/device" block, and the
// direction code arcshim takes for it. False with the refusal in error.
bool buildAtaCdb(const AtaCommandBlock& block, uint32_t length, uint8_t (&cdb)[16], int& direction, CvError* error);

// True when the drive answers IDENTIFY DEVICE sent as a SAT CDB.
bool answersAta(uint32_t driveIndex);

int executeAta(Device& device, CvCommand* command, CvError* error);
int executeScsi(Device& device, CvCommand* command, CvError* error);

}  // namespace adaptec
