// The exit delay ("-exit_delay"), waited before every exit after parsing.
#pragma once

#include <cstdint>

namespace firmstep {

// The delay as a 32-bit millisecond count: 0 for zero or negative seconds, and
// the largest count for delays whose milliseconds do not fit.
std::uint32_t ExitDelayMilliseconds(std::int32_t seconds);

void WaitExitDelay(std::int32_t seconds);

}  // namespace firmstep
