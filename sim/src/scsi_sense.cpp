// Fixed-format sense data: response code 70h, key in byte 2, additional length
// 10, ASC and ASCQ in bytes 12 and 13, sense-key specific bytes 15 to 17.
#include "scsi_sense.h"

#include <algorithm>

namespace simdrive {

FixedSense fixedSense(uint8_t senseKey, uint16_t additionalSense) {
    FixedSense sense{};
    sense[0] = 0x70;
    sense[2] = senseKey & 0x0F;
    sense[7] = scsi::kFixedSenseLength - 8;
    sense[12] = static_cast<uint8_t>(additionalSense >> 8);
    sense[13] = static_cast<uint8_t>(additionalSense);
    return sense;
}

void checkCondition(ScsiReply& reply, uint8_t senseKey, uint16_t additionalSense) {
    FixedSense sense = fixedSense(senseKey, additionalSense);
    reply.status = scsi::kStatusCheckCondition;
    reply.sense.fill(0);
    std::copy(sense.begin(), sense.end(), reply.sense.begin());
    reply.senseLength = scsi::kFixedSenseLength;
}

namespace {

void pointAtCdb(ScsiReply& reply, uint16_t byte, int bit) {
    // SKSV, C/D = 1 (the error is in the CDB), BPV with the bit pointer when given.
    reply.sense[15] = static_cast<uint8_t>(0x80 | 0x40 | (bit >= 0 ? 0x08 | (bit & 0x07) : 0));
    reply.sense[16] = static_cast<uint8_t>(byte >> 8);
    reply.sense[17] = static_cast<uint8_t>(byte);
}

}  // namespace

void invalidFieldInCdb(ScsiReply& reply, uint16_t byte, int bit) {
    checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
    pointAtCdb(reply, byte, bit);
}

void invalidOpcode(ScsiReply& reply) {
    checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidOpcode);
    pointAtCdb(reply, 0, -1);
}

}  // namespace simdrive
