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

bool RunDownloadAndActivate(std::uint32_t attempts, bool hasImage, std::uint32_t transferLength, bool activate,
                            const std::function<bool()>& download, const std::function<bool()>& activation)
{
    if (hasImage) {
        ToolPrint("  Downloading firmware (I/O transfer length = %u) ...\n", transferLength);
        ToolFlush();
        if (!RunAttemptSeries(attempts, download))
            return false;
        ToolPrint("  SUCCESS: Firmware download completed successfully\n");
        ToolFlush();
    }
    if (activate) {
        ToolPrint("  Activating firmware...\n");
        ToolFlush();
        if (!RunAttemptSeries(attempts, activation))
            return false;
        ToolPrint("  SUCCESS: Activate firmware completed successfully\n");
        ToolFlush();
    }
    return true;
}

}  // namespace firmstep
