// The closing summary of a run and the exit status it leads to.
#pragma once

#include <cstdint>
#include <string>

namespace firmstep {

// The summary text: the NVMe reset block when NVMe reset is set, then the block
// that names the operation of the run, each with the success and failure counts.
std::string FormatSummary(std::uint32_t flags, int successes, int failures);
void PrintSummary(std::uint32_t flags, int successes, int failures);

// The exit status of the drives processed so far: 0 when none failed, 100 when
// some failed and some succeeded, 127 when every one failed. The order in which
// they were processed does not matter: a script must not read a batch with
// failed drives as a success because the last drive happened to succeed.
int DrivesExitStatus(int successes, int failures);

}  // namespace firmstep
