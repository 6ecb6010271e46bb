#include "summary.h"

#include "exit_status.h"
#include "output.h"
#include "run_state.h"
#include "text_format.h"

namespace firmstep {

std::string FormatSummary(std::uint32_t flags, int successes, int failures)
{
    std::string text;
    if (flags & kFlagNvmeReset) {
        text += "NVMe Controller Reset Summary\n";
        text += FormatText("  Successful Controller Resets = %3d\n", successes);
        text += FormatText("  Failed Controller Resets     = %3d\n", failures);
    }
    const bool deferred = (flags & kFlagDeferredDownload) != 0;
    const bool activate = (flags & kFlagActivate) != 0;
    if (deferred && activate) {
        text += "Firmware Download and Activate Summary\n";
        text += FormatText("  Successful Download and Activations = %3d\n", successes);
        text += FormatText("  Failed Download and Activations     = %3d\n", failures);
    } else if (activate) {
        text += "Firmware Activation Summary\n";
        text += FormatText("  Successful Activations = %3d\n", successes);
        text += FormatText("  Failed Activations     = %3d\n", failures);
    } else {
        text += "Firmware Download Summary\n";
        text += FormatText("  Successful Downloads = %3d\n", successes);
        text += FormatText("  Failed Downloads     = %3d\n", failures);
    }
    return text;
}

void PrintSummary(std::uint32_t flags, int successes, int failures)
{
    ToolPrint("%s", FormatSummary(flags, successes, failures).c_str());
}

int DrivesExitStatus(int successes, int failures)
{
    if (failures == 0)
        return kExitSuccess;
    return successes == 0 ? kExitAllDrivesFailed : kExitSomeDrivesFailed;
}

}  // namespace firmstep
