#include "attempt_series.h"

#include "framework_calls.h"
#include "output.h"

namespace firmstep {

bool RunAttemptSeries(std::uint32_t attempts, const std::function<bool()>& attempt)
{
    if (attempts == 0)
        attempts = 1;
    for (std::uint32_t i = 0; i < attempts; ++i) {
        if (i != 0) {
            Framework().sleepMilliseconds(kRetryPauseMilliseconds);
            ToolPrint("  Retry attempt %u\n", i);
            ToolFlush();
        }
        if (attempt())
            return true;
    }
    return false;
}

}  // namespace firmstep
