// Sending NVMe admin commands to an "nvme/device" service. Every admin command
// of the process is numbered from one running counter, which the identify and
// the firmware commands share.
#pragma once

#include "drive_table.h"

#include <corvane.h>
#include <device_contracts.h>

#include <cstdint>

namespace firmstep {

// The number for the next admin command: 0, 1, 2, ... and back to 0 after
// INT32_MAX.
std::uint32_t NextNvmeCommandNumber();
// Sets the counter (tests only).
void SetNvmeCommandNumber(std::int32_t next);

// Executes `block` as an admin command (function 1) with `data` as buffer 1 and
// the next command number as the tag. Returns the call's result; the drive's
// verdict is in block.completion.
int ExecuteNvmeAdmin(CvUID machine, AccessPath path, NvmeCommandBlock& block, void* data,
                     std::uint32_t dataLength, CvError& error);

// Whether a completion reports a failure, and the code it gives the error record.
bool NvmeCompletionFailed(const NvmeCommandBlock& block);
int NvmeStatusCode(const NvmeCommandBlock& block);

// The reset a Firmware Commit's completion names when it committed the image
// but the drive runs it only after that reset.
enum class ActivationReset { None, Conventional, NvmSubsystem, ControllerLevel };
ActivationReset CommitActivationReset(const NvmeCommandBlock& block);
// "a conventional reset", "an NVM subsystem reset", "a controller level reset".
const char* ActivationResetText(ActivationReset reset);

}  // namespace firmstep
