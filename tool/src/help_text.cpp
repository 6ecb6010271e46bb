#include "help_text.h"

#include "output.h"
#include "tool_options.h"

#include <corvane.h>

namespace firmstep {
namespace {

constexpr const char* kMakerNotice = "Firmware download and activation utility for Veltrane VT drives";

// The help text, one entry per line. The null entry is the retries line, which
// is formatted from the limits the parser enforces.
constexpr const char* kHelpLines[] = {
    "  firmstep downloads a firmware file or activates firmware on one or\n",
    "  more VT drives that are connected to your system.  If you do not specify\n",
    "  the '-dev' or '-model' switch, you will be prompted to select which\n",
    "  drives will have firmware downloaded/activated.  You can select all,\n",
    "  none, or a subset of the drives.\n",
    "\n",
    "  All command line switches are optional and case sensitive.\n",
    "\n",
    "Usage Windows: 'firmstep [fwFilename] [-switch] [-switch] ...'\n",
    "Usage Linux:   './firmstep.sh [fwFilename] [-switch] [-switch] ...'\n",
    "\n",
    "Command Line Arguments and Switches:\n",
    "  <fwFilename>    The firmware file to download to the VT drive(s).\n",
    "\n",
    "  -batch_mode     DO NOT prompt for user input (this switch is provided\n",
    "                  for batch file execution).  Use this switch to download\n",
    "                  or activate firmware on all discovered drives.  Use the\n",
    "                  '-dev <devlist>' switch to select specific drives for\n",
    "                  firmware download/activation.\n",
    "\n",
    "  -cfg <cFile>    Select a configuration file for initializing firmstep\n",
    "                  (default = firmstep.ini).\n",
    "\n",
    "  -cs <n>         Set the I/O transfer length (in bytes) specified by <n>\n",
    "                  (this must be an integer multiple of 512 for ATA drives).\n",
    "\n",
    "  -debug          Enable this application's debug logging output.\n",
    "\n",
    "  -dev <devlist>  Specify a comma-separated list of drive numbers <devlist>\n",
    "                  that indicates which drives will have firmware downloaded\n",
    "                  or activated.  The <devlist> may include a dash-separated\n",
    "                  range of drive numbers (e.g., 4,6,8,12-15), but no spaces.\n",
    "                  When this switch is specified, you WILL NOT be prompted to\n",
    "                  select drives for firmware download/activation.\n",
    "\n",
    "  -dma            Perform ATA Download Microcode with DMA (works only on\n",
    "                  drives with firmware that supports this feature).\n",
    "\n",
    "  -exit_delay <s> Number of seconds to delay before terminating.\n",
    "\n",
    "  -flags bitmask  Defines a <bitmask> of flags to be passed to firmstep.\n",
    "                    1 = Perform deferred ATA Download Microcode (mode 0xE -\n",
    "                        works only on drives that support this feature).\n",
    "                    2 = Activate previously downloaded firmware (mode 0xF -\n",
    "                        works only on drives that support this feature).\n",
    "\n",
    "                    4 = Do an NVMe reset.\n",
    "  -list           List all discovered VT drives and do not download/activate\n",
    "                  firmware even when <fwFilename> or '-model <mFile>' is\n",
    "                  specified.\n",
    "\n",
    "  -log <lFile>    Create a log file named <lFile>.\n",
    "\n",
    "  -model <mFile>  Download/activate firmware on the drive models listed in\n",
    "                  <mFile>.\n",
    "\n",
    "  -report <rFile> Write a report of the run in JSON to the file <rFile>: the\n",
    "                  drives found and, for each drive, every step with its\n",
    "                  result and the firmware revision before and after.\n",
    "\n",
    "  -retries <n>    Maximum number of download/activate retries. Allowed range\n",
    nullptr,
    "  -p=<ports>      Scan for drive(s) only on the specified port(s).\n",
    "\n",
    "  -sas_mode <n>   Specify the SCSI Write Buffer mode (0 through 31; default\n",
    "                  is mode 7) for a SAS drive.  In most cases, you should not\n",
    "                  need to specify the sas_mode.  Specifying an invalid value\n",
    "                  will cause the download operation to fail.\n",
    "\n",
    "  -nvme_slot <n>  Specify the NVMe slot (0 through 7) for an NVMe device\n",
    "  -nvme_ca <n>    Specify the NVMe commit action (0 through 7) for an NVMe\n",
    "                  device\n",
    "  -sdsb=<n>       Select the SDSB port.  Choose 0 for the first port; 1 for\n",
    "                  the second port.\n",
    "\n",
    "  -h, -help, -?   Display this application's help text.  Specify one of\n",
    "                  these switches instead of the <fwFilename> argument.\n",
    "\n",
};

}  // namespace

void PrintBanner()
{
    ToolPrint("\n%s version %s using Corvane %s\n", kToolName, kToolVersion, CvGetVersion());
    ToolPrint("  %s\n\n", kMakerNotice);
}

void LogBanner()
{
    ToolLogPrint("\n%s version %s using Corvane %s\n", kToolName, kToolVersion, CvGetVersion());
    ToolLogPrint("  %s\n\n", kMakerNotice);
}

void PrintHelp()
{
    for (const char* line : kHelpLines) {
        if (line == nullptr)
            ToolPrint("                  is 1-%u (default=%u).\n", kMaxRetries, kDefaultRetries);
        else
            ToolPrint("%s", line);
    }
}

}  // namespace firmstep
