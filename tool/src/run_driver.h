// The run of firmstep from the banner to the exit status, as a sequence of steps.
#pragma once

#include "report_file.h"
#include "run_report.h"
#include "run_state.h"
#include "tool_options.h"

#include <corvane.h>

#include <functional>
#include <optional>
#include <string>

namespace firmstep {

// Everything one run carries from step to step.
struct RunContext {
    int argc = 0;
    char** argv = nullptr;
    ToolOptions options;
    RunState state;
    CvError error{};           // the one error record every framework call receives
    bool frameworkUp = false;  // CvInitialize has run and CvUninitialize has not
    int successes = 0;         // drives processed successfully
    int failures = 0;          // drives that failed
    int exitStatus = 0;        // status reached so far; the per-drive step updates it
    // With "-report": what the run did, and the file it is written to when
    // the run ends, whichever way it ends after the command line was parsed.
    std::optional<RunReport> report;
    ReportFile reportFile;

    // Says in the report how the run ended (a no-op without a report).
    void NoteOutcome(RunOutcome outcome, std::string message = {});
};

// A step either lets the run go on (no value) or has ended it with a status.
using StepResult = std::optional<int>;

// Runs firmstep and returns its exit status.
int RunFirmstep(int argc, char** argv);

// The steps, in run order.
void PrintBannerStep(RunContext& run);
StepResult ParseCommandLineStep(RunContext& run);
// With "-report": makes sure the report file can be written before anything is
// done, and starts the report; a file that cannot be written ends the run with
// status 1.
StepResult StartReportStep(RunContext& run);
StepResult ReadModelFileStep(RunContext& run);
void InitializeFrameworkStep(RunContext& run);
// Configures the framework from the configuration file ("-cfg", else the
// default one); a failure ends the run with status 4.
StepResult ConfigureFrameworkStep(RunContext& run);
// Gives the plug-ins' background discovery time to register the disks, then
// waits until the pass-through plug-ins have looked at every disk registered so
// far: they probe disks on the framework's work thread as the disks' hot-plug
// events arrive there, in order, so a work item queued now runs after every
// probe those events started. The wait ends there, or after
// kProbeWaitSeconds with a warning that drives may be missing.
inline constexpr int kBackgroundDiscoveryMilliseconds = 1000;
inline constexpr int kProbeWaitSeconds = 300;
// After this long the wait says what it is waiting for.
inline constexpr int kProbeWaitNoticeSeconds = 10;
void WaitForBackgroundDiscoveryStep(RunContext& run);
// Reads the machine list into firstMachine; an unreadable or empty list ends
// the run with status 5.
StepResult MachineListStep(RunContext& run, CvUID& firstMachine);
// Finds the VT drives of `machine`; no drive (or a failed walk) ends the run.
StepResult DiscoverDrivesStep(RunContext& run, CvUID machine);
// Prints the drive list; "-list" ends the run there.
StepResult ListDrivesStep(RunContext& run);
// Asks which drives to act on, unless batch mode, "-dev" or "-model" decided it.
StepResult SelectDrivesStep(RunContext& run);
// An accepted "-cs" that is not a multiple of 512 while an ATA drive was
// discovered ends the run with status 2.
StepResult TransferLengthCheckStep(RunContext& run);
// The per-drive step for every row of the drive table.
void DriveSteps(RunContext& run);
// Prints the summary and ends the run with the status the drives left.
int SummaryStep(RunContext& run);

// Runs the steps from discovery to the summary; an exception thrown there
// abandons the run (AbandonRun) with the exit status reached so far.
int RunGuarded(RunContext& run, const std::function<int(RunContext&)>& steps);

// Ways to end a run. Each waits the exit delay, writes the report (when one was
// asked for) and closes the log file last.
// Shuts the framework down (when it is up), then waits.
int EndRun(RunContext& run, int status);
// Waits first, then shuts the framework down.
int EndRunWaitingFirst(RunContext& run, int status);
// Leaves the framework as it is: the way out after an unexpected fault.
int AbandonRun(RunContext& run, int status);
// Writes the report file with `status` as the exit status; a no-op without
// "-report". A report that cannot be written is said on the console.
void WriteReport(RunContext& run, int status);

}  // namespace firmstep
