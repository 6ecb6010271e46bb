// The closing summary of a run and the exit status it leads to.
#pragma once

#include <cstdint>
#include <string>

namespace firmstep {

// The summary text: the NVMe reset block when NVMe reset is set, then the block
// that names the operation of the run, each with the success and failure counts.
std::string FormatSummary(std::uint32_t flags, int successes, int failures);
void PrintSummary(std::uint32_t flags, int successes, int failures);

// The per-drive step leaves 0 after a success and 100 after a failure, so the
// status reached tells how the last processed drive went; a run in which drives
// failed and none succeeded ends with 127.
int FinalExitStatus(int statusSoFar, int successes, int failures);

}  // namespace firmstep
