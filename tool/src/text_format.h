// printf-style formatting into a std::string of any length.
#pragma once

#include "output.h"

#include <string>

namespace firmstep {

std::string FormatText(const char* format, ...) FIRMSTEP_PRINTF(1, 2);

}  // namespace firmstep
