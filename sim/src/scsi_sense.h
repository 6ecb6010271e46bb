// Building CHECK CONDITION replies with fixed-format sense data.
#pragma once

#include <array>
#include <cstdint>

#include "simdrive/scsi_bus.h"

namespace simdrive {

using FixedSense = std::array<uint8_t, scsi::kFixedSenseLength>;

FixedSense fixedSense(uint8_t senseKey, uint16_t additionalSense);

void checkCondition(ScsiReply& reply, uint8_t senseKey, uint16_t additionalSense);

// ILLEGAL REQUEST, INVALID FIELD IN CDB, with the sense-key specific field
// pointer naming the CDB byte (and the bit, when bit >= 0).
void invalidFieldInCdb(ScsiReply& reply, uint16_t byte, int bit = -1);

// ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE, pointing at CDB byte 0.
void invalidOpcode(ScsiReply& reply);

}  // namespace simdrive
