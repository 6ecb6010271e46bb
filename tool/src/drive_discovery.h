// Finding the VT drives of one machine and printing the numbered list of them.
#pragma once

#include "run_state.h"

#include <corvane.h>

#include <string>

namespace firmstep {

// Walks every service of every resource of `machine`, reads the identity behind
// each "ata/device", "scsi/device" and "nvme/device" service, keeps the VT
// drives and folds the paths of one drive into its row. Returns 1 with
// state.drives filled, or 0 with `error` set: a failed list or info call, or no
// VT drive at all. Uses state.flags (debug) and state.sdsbPort.
int DiscoverDrives(CvUID machine, RunState& state, CvError& error);

// The listing of the discovered drives, without the rows an explicit selection
// leaves out.
std::string FormatDriveList(const RunState& state);
void PrintDriveList(const RunState& state);

}  // namespace firmstep
