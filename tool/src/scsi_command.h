// Sending one SCSI command through a drive's "scsi/device" service. A device
// answers UNIT ATTENTION to tell an initiator about an event (new microcode, a
// reset, changed parameters) and does not perform the command it answered that
// way; some drives raise one after every microcode segment or activation. Such
// a command is sent again instead of being taken for the device's refusal.
#pragma once

#include "drive_table.h"

#include <corvane.h>
#include <device_contracts.h>

#include <cstdint>

namespace firmstep {

// How many times one command is sent again after UNIT ATTENTION before the
// answer counts as the device's.
inline constexpr int kUnitAttentionResends = 3;

// Whether the block's answer is CHECK CONDITION with sense key UNIT ATTENTION
// (fixed or descriptor format sense).
bool ReportsUnitAttention(const ScsiCommandBlock& block);

// Executes `block` with `data` as 'do scsi command', sending the same command
// again while the device answers UNIT ATTENTION, at most kUnitAttentionResends
// times. Returns the result of the last call; `block` holds its answer, which
// is still UNIT ATTENTION when the condition outlasted the resends. With
// `debug` each resend is announced with the status and sense that caused it.
int ExecuteScsiCommand(CvUID machine, AccessPath path, ScsiCommandBlock& block, void* data,
                       std::uint32_t dataLength, bool debug, CvError& error);

// The debug lines of a SCSI answer: "SCSI Status = %d" and one line per sense byte.
void PrintScsiStatusAndSense(const ScsiCommandBlock& block);

}  // namespace firmstep
