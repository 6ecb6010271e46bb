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

bool RunReportedSeries(std::uint32_t attempts, const char* successLine, const std::function<bool()>& attempt)
{
    if (!RunAttemptSeries(attempts, attempt))
        return false;
    ToolPrint("%s", successLine);
    ToolFlush();
    return true;
}

bool RunDownloadAndActivate(std::uint32_t attempts, bool hasImage, std::uint32_t transferLength, bool activate,
                            const std::function<bool()>& download, const std::function<bool()>& activation)
{
    if (hasImage) {
        ToolPrint("  Downloading firmware (I/O transfer length = %u) ...\n", transferLength);
        ToolFlush();
        if (!RunReportedSeries(attempts, "  SUCCESS: Firmware download completed successfully\n", download))
            return false;
    }
    if (activate) {
        ToolPrint("  Activating firmware...\n");
        ToolFlush();
        if (!RunReportedSeries(attempts, "  SUCCESS: Activate firmware completed successfully\n", activation))
            return false;
    }
    return true;
}

}  // namespace firmstep
