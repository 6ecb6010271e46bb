// The per-drive step of a run: for one row of the drive table, decide whether
// it takes part, choose its firmware file and transfer length, load the image,
// and try the drive's access paths in order until an update through one of
// them succeeds. Counts the drive as a success or a failure.
#pragma once

#include "drive_table.h"
#include "run_report.h"
#include "run_state.h"
#include "tool_options.h"

#include <corvane.h>

#include <cstdint>

namespace firmstep {

// Processes row `driveNumber` and counts it in `successes` or `failures`,
// leaving the exit status of all drives counted so far in `exitStatus`
// (DrivesExitStatus). A row that is not
// selected, or in model mode has no matching entry or an unreadable firmware
// file, is left without counting. With `report`, the row's record for the
// report, the update and each of its steps are kept there.
void RunDriveStep(ToolOptions options, std::uint32_t driveNumber, RunState& state, CvError& error,
                  int& successes, int& failures, int& exitStatus, DriveRecord* report = nullptr);

// The transfer length a drive starts from: its largest download block count in
// 512-byte blocks, or 32 MiB when it reports none.
std::uint32_t DefaultTransferLength(const DriveIdentity& identity);

// Whether an accepted "-cs" value cannot be used because it is not a multiple
// of 512 and a discovered drive, selected or not, is ATA.
bool TransferLengthUnfitForAta(std::int32_t acceptedTransferLength, const DriveTable& drives);

}  // namespace firmstep
