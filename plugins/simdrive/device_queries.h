// Functions 0 to 5 of "ata/device" and "scsi/device": capabilities, settings
// and abilities, which describe the service rather than reach the drive.
#pragma once

#include <cstdint>

#include "device_unit.h"

namespace cvpl_simdrive {

struct QueryAnswers {
    const char* kindName;  // "ATA" or "SCSI", as the setting refusals name it
    uint32_t capabilities;
    DeviceSettingsSupport support;
    bool constantSetting5;  // setting 5 reads 1 (ATA)
    const void* abilities;  // abilityCount records of abilitySize bytes
    uint32_t abilitySize;
    int32_t abilityCount;
};

// Answers function 0 to 5 of a command that passed the common checks.
int answerQuery(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error);

}  // namespace cvpl_simdrive
