// Functions 0 to 5 of "ata/device" and "scsi/device": capabilities, settings
// and abilities, which describe the service rather than reach the drive.
#pragma once

#include <cstdint>

#include "device_unit.h"

namespace cvpl_simdrive {

using QueryAnswers = DeviceQueryAnswers;

// Answers function 0 to 5 of a command that passed the common checks.
int answerQuery(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error);

}  // namespace cvpl_simdrive
