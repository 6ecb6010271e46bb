#include "scsi_command.h"

#include "framework_calls.h"
#include "output.h"

namespace firmstep {
namespace {

constexpr std::uint16_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;

unsigned SenseLength(const ScsiCommandBlock& block)
{
    return block.senseLength < SCSI_SENSE_CAPACITY ? block.senseLength : SCSI_SENSE_CAPACITY;
}

// The sense key, or 0 (NO SENSE) when the sense data is too short or of an
// unknown format.
std::uint8_t SenseKey(const ScsiCommandBlock& block)
{
    const unsigned length = SenseLength(block);
    if (length == 0)
        return 0;
    switch (block.sense[0] & 0x7F) {
    case 0x70:  // fixed format, current and deferred
    case 0x71:
        return length > 2 ? block.sense[2] & 0x0F : 0;
    case 0x72:  // descriptor format, current and deferred
    case 0x73:
        return length > 1 ? block.sense[1] & 0x0F : 0;
    default:
        return 0;
    }
}

}  // namespace

bool ReportsUnitAttention(const ScsiCommandBlock& block)
{
    return block.status == kStatusCheckCondition && SenseKey(block) == kSenseKeyUnitAttention;
}

int ExecuteScsiCommand(CvUID machine, AccessPath path, ScsiCommandBlock& block, void* data,
                       std::uint32_t dataLength, bool debug, CvError& error)
{
    // Every resend goes out exactly as the first command did.
    const ScsiCommandBlock command = block;
    for (int resends = 0;; ++resends) {
        const int result = ExecuteDeviceCommand(machine, path, &block, sizeof block, data, dataLength, error);
        if (result == 0 || !ReportsUnitAttention(block) || resends == kUnitAttentionResends)
            return result;
        if (debug) {
            PrintScsiStatusAndSense(block);
            ToolPrint("SCSI unit attention: sending the command again\n");
            ToolFlush();
        }
        block = command;
    }
}

void PrintScsiStatusAndSense(const ScsiCommandBlock& block)
{
    ToolPrint("SCSI Status = %d\n", block.status);
    const unsigned senseLength = SenseLength(block);
    for (unsigned i = 0; i < senseLength; ++i)
        ToolPrint("SCSI Sense[%u]= %u (0x%X)\n", i, block.sense[i], block.sense[i]);
    ToolFlush();
}

}  // namespace firmstep
