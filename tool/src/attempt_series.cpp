#include "attempt_series.h"

#include "framework_calls.h"
#include "output.h"

namespace firmstep {

bool RunAttemptSeries(std::uint32_t attempts, const std::function<bool()>& attempt, std::uint32_t* made)
{
    if (attempts == 0)
        attempts = 1;
    for (std::uint32_t i = 0; i < attempts; ++i) {
        if (i != 0) {
            Framework().sleepMilliseconds(kRetryPauseMilliseconds);
            ToolPrint("  Retry attempt %u\n", i);
            ToolFlush();
        }
        if (made != nullptr)
            *made = i + 1;
        if (attempt())
            return true;
    }
    return false;
}

bool RunReportedSeries(std::uint32_t attempts, const char* successLine, const std::function<bool()>& attempt,
                       StepKind kind, const StepLog& log)
{
    std::uint32_t made = 0;
    const bool succeeded = RunAttemptSeries(attempts, attempt, &made);
    log.Add(kind, made, succeeded);
    if (!succeeded)
        return false;
    ToolPrint("%s", successLine);
    ToolFlush();
    return true;
}

bool RunDownloadAndActivate(std::uint32_t attempts, bool hasImage, std::uint32_t transferLength, bool activate,
                            const std::function<bool()>& download, const std::function<bool()>& activation,
                            const StepLog& log)
{
    if (hasImage) {
        ToolPrint("  Downloading firmware (I/O transfer length = %u) ...\n", transferLength);
        ToolFlush();
        if (!RunReportedSeries(attempts, "  SUCCESS: Firmware download completed successfully\n", download,
                               StepKind::Download, log))
            return false;
    }
    if (activate) {
        ToolPrint("  Activating firmware...\n");
        ToolFlush();
        if (!RunReportedSeries(attempts, "  SUCCESS: Activate firmware completed successfully\n", activation,
                               StepKind::Activation, log))
            return false;
    }
    return true;
}

}  // namespace firmstep
