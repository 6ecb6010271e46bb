#include "run_driver.h"

#include "command_line.h"
#include "config_path.h"
#include "drive_discovery.h"
#include "drive_step.h"
#include "exit_delay.h"
#include "exit_status.h"
#include "framework_log.h"
#include "help_text.h"
#include "model_strings.h"
#include "output.h"
#include "selection.h"
#include "summary.h"
#include "text_format.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace firmstep {
namespace {

void ShutDownFramework(RunContext& run)
{
    if (run.frameworkUp) {
        CvUninitialize(&run.error);
        run.frameworkUp = false;
    }
}

}  // namespace

int EndRun(RunContext& run, int status)
{
    ShutDownFramework(run);
    WaitExitDelay(run.options.exitDelaySeconds);
    WriteReport(run, status);
    CloseLogFile();
    return status;
}

int EndRunWaitingFirst(RunContext& run, int status)
{
    WaitExitDelay(run.options.exitDelaySeconds);
    ShutDownFramework(run);
    WriteReport(run, status);
    CloseLogFile();
    return status;
}

int AbandonRun(RunContext& run, int status)
{
    WaitExitDelay(run.options.exitDelaySeconds);
    WriteReport(run, status);
    CloseLogFile();
    return status;
}

void PrintBannerStep(RunContext& /*run*/)
{
    PrintBanner();
}

StepResult ParseCommandLineStep(RunContext& run)
{
    const ParseResult result = ParseCommandLine(run.argc, run.argv, run.options, run.state);
    switch (result.outcome) {
    case ParseOutcome::Proceed:
        return {};
    case ParseOutcome::Help:
        PrintHelp();
        break;
    case ParseOutcome::NothingSelected:
    case ParseOutcome::Error:
        ToolPrint("%s", result.message.c_str());
        break;
    }
    ToolFlush();
    return EndRun(run, result.exitStatus);
}

StepResult ReadModelFileStep(RunContext& run)
{
    if (run.state.Has(kFlagListOnly) || !run.state.Has(kFlagModelMode))
        return {};
    const int entries = ReadModelStringFileInto(run.options.modelFile, RunModelTable());
    if (entries < 0) {
        ToolFlush();  // the reader has said that the file cannot be opened
        run.NoteOutcome(RunOutcome::ModelFileUnusable,
                        FormatText("Cannot open Model String file '%s'", run.options.modelFile));
        return EndRun(run, kExitModelFile);
    }
    if (entries == 0) {
        ToolPrint("ERROR: The model string file '%s' contains no valid entries\n", run.options.modelFile);
        run.NoteOutcome(RunOutcome::ModelFileUnusable,
                        FormatText("The model string file '%s' contains no valid entries", run.options.modelFile));
        ToolFlush();
        return EndRun(run, kExitModelFile);
    }
    if (run.state.Has(kFlagActivate))
        ToolPrint("\nActivating firmware on drive models listed in '%s'\n\n", run.options.modelFile);
    else
        ToolPrint("\nDownloading firmware to drive models listed in '%s'\n\n", run.options.modelFile);
    return {};
}

void InitializeFrameworkStep(RunContext& run)
{
    CvInitialize();
    run.frameworkUp = true;
    if (run.state.Has(kFlagDebug))
        RegisterFrameworkLogListener();
}

StepResult ConfigureFrameworkStep(RunContext& run)
{
    const std::string file = ResolveConfigurationFile(run.options.configFile);
    if (CvHelper_ConfigureUsingINIFile(file.c_str(), &run.error))
        return {};
    ToolPrint("\nERROR: Config file - %s\n", run.error.message);
    ToolFlush();
    run.NoteOutcome(RunOutcome::ConfigurationFailed, run.error.message);
    return EndRun(run, kExitConfiguration);
}

namespace {

// Tickets of the work items that mark how far the work thread has come. Never
// destroyed: an item that outlives the wait may still run while the process
// exits.
struct WorkProgress {
    std::mutex mutex;
    std::condition_variable advanced;
    std::uint64_t issued = 0;
    std::uint64_t reached = 0;
};

WorkProgress& Progress()
{
    static WorkProgress* const progress = new WorkProgress();
    return *progress;
}

void MarkReached(void* ticket)
{
    WorkProgress& progress = Progress();
    std::lock_guard lock(progress.mutex);
    progress.reached = std::max(progress.reached, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(ticket)));
    progress.advanced.notify_all();
}

// True once the work thread has run everything queued before this call.
bool WaitForQueuedWork()
{
    WorkProgress& progress = Progress();
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(progress.mutex);
        ticket = ++progress.issued;
    }
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    if (work == nullptr)
        return false;
    work->function = MarkReached;
    work->argument = reinterpret_cast<void*>(static_cast<std::uintptr_t>(ticket));
    CvWorkManager_QueueWork(work);

    std::unique_lock lock(progress.mutex);
    const auto done = [&] { return progress.reached >= ticket; };
    if (progress.advanced.wait_for(lock, std::chrono::seconds(kProbeWaitNoticeSeconds), done))
        return true;
    lock.unlock();
    ToolPrint("Waiting for the drives to answer (at most %d seconds) ...\n", kProbeWaitSeconds);
    ToolFlush();
    lock.lock();
    return progress.advanced.wait_for(lock, std::chrono::seconds(kProbeWaitSeconds - kProbeWaitNoticeSeconds), done);
}

}  // namespace

void WaitForBackgroundDiscoveryStep(RunContext& /*run*/)
{
    CrtSleepMili(kBackgroundDiscoveryMilliseconds);
    if (WaitForQueuedWork())
        return;
    ToolPrint("WARNING: Drive discovery did not finish within %d seconds; drives still being probed are not listed\n",
              kProbeWaitSeconds);
    ToolFlush();
}

StepResult MachineListStep(RunContext& run, CvUID& firstMachine)
{
    const auto machines = std::make_unique<CvUIDList>();
    if (!CvMachineManager_GetMachineList(machines.get(), &run.error)) {
        ToolPrint("ERROR: %s\n", run.error.message);
        ToolFlush();
        run.NoteOutcome(RunOutcome::NoMachine, run.error.message);
        return EndRun(run, kExitMachineList);
    }
    if (machines->count <= 0) {
        // Names the default file even when "-cfg" chose another one.
        ToolPrint("There are no machines available, edit firmstep.ini and specify at least one machine\n");
        ToolFlush();
        run.NoteOutcome(RunOutcome::NoMachine, "There are no machines available");
        return EndRun(run, kExitMachineList);
    }
    firstMachine = machines->uids[0];
    if (run.report)
        run.report->machine = DescribeMachine(firstMachine);
    return {};
}

StepResult DiscoverDrivesStep(RunContext& run, CvUID machine)
{
    if (DiscoverDrives(machine, run.state, run.error)) {
        if (run.report)
            run.report->drives = DescribeDrives(run.state.drives);
        return {};
    }
    run.NoteOutcome(RunOutcome::NoDrives, run.error.message);
    // Ends the line so that what follows (the framework's shut-down lines with
    // "-debug", or the shell's prompt) starts on a line of its own.
    ToolPrint("ERROR: No VT drives found - %s\n", run.error.message);
    // Without root the OS devices plug-in cannot open the disks, so they were
    // never looked at: say so, or the report reads as "this machine has none".
    if (::geteuid() != 0)
        ToolPrint("NOTE: firmstep is not running as root; disks it is not allowed to open were not searched. "
                  "Run it as root to reach every drive.\n");
    ToolFlush();
    return EndRun(run, kExitSuccess);
}

StepResult ListDrivesStep(RunContext& run)
{
    PrintDriveList(run.state);
    ToolFlush();
    if (run.state.Has(kFlagListOnly)) {
        run.NoteOutcome(RunOutcome::Listed);
        return EndRunWaitingFirst(run, kExitSuccess);
    }
    return {};
}

StepResult SelectDrivesStep(RunContext& run)
{
    if (run.state.Has(kFlagBatchMode) || run.state.Has(kFlagDeviceList) || run.state.Has(kFlagModelMode))
        return {};
    if (PromptForSelection(run.state, stdin) == SelectionOutcome::NothingSelected) {
        ToolPrint("\nNo drives were selected, so no firmware was %s\n", OperationWord(run.state.flags));
        ToolFlush();
        run.NoteOutcome(RunOutcome::NothingSelected);
        return EndRunWaitingFirst(run, kExitSuccess);
    }
    ToolPrint("\n");
    ToolFlush();
    return {};
}

StepResult TransferLengthCheckStep(RunContext& run)
{
    if (!TransferLengthUnfitForAta(run.options.acceptedTransferLength, run.state.drives))
        return {};
    ToolPrint("ERROR: Firmware WAS NOT downloaded - incompatible '-cs <n>' specified '%d'\n",
              run.options.acceptedTransferLength);
    ToolFlush();
    run.NoteOutcome(RunOutcome::TransferLengthRefused,
                    FormatText("incompatible '-cs <n>' specified '%d'", run.options.acceptedTransferLength));
    return EndRunWaitingFirst(run, kExitTransferLength);
}

void DriveSteps(RunContext& run)
{
    for (std::uint32_t i = 0; i < run.state.drives.count && i < kDriveTableCapacity; ++i) {
        DriveRecord* record = run.report && i < run.report->drives.size() ? &run.report->drives[i] : nullptr;
        RunDriveStep(run.options, i, run.state, run.error, run.successes, run.failures, run.exitStatus, record);
    }
}

// A C++ exception thrown from these steps ends the run quietly, as the last
// part of an ordinary end without shutting the framework down: the fault may
// have left it in any state. Processor faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE)
// are deliberately not caught: nothing can be trusted after one, resuming is
// undefined, and neither the exit delay nor closing the log file is safe from a
// signal handler, so the default action ends the process with the signal.
int RunGuarded(RunContext& run, const std::function<int(RunContext&)>& steps)
{
    try {
        return steps(run);
    } catch (...) {
        run.NoteOutcome(RunOutcome::Abandoned, "An unexpected fault ended the run");
        return AbandonRun(run, run.exitStatus);
    }
}

int SummaryStep(RunContext& run)
{
    PrintSummary(run.state.flags, run.successes, run.failures);
    ToolFlush();
    run.exitStatus = DrivesExitStatus(run.successes, run.failures);
    return EndRun(run, run.exitStatus);
}

int RunFirmstep(int argc, char** argv)
{
    RunContext run;
    run.argc = argc;
    run.argv = argv;

    PrintBannerStep(run);
    if (StepResult end = ParseCommandLineStep(run))
        return *end;
    if (StepResult end = StartReportStep(run))
        return *end;
    if (StepResult end = ReadModelFileStep(run))
        return *end;
    InitializeFrameworkStep(run);

    if (StepResult end = ConfigureFrameworkStep(run))
        return *end;
    WaitForBackgroundDiscoveryStep(run);
    CvUID machine = CV_UID_NONE;
    if (StepResult end = MachineListStep(run, machine))
        return *end;

    // Steps from discovery to the summary run under the guard.
    return RunGuarded(run, [machine](RunContext& guarded) -> int {
        if (StepResult end = DiscoverDrivesStep(guarded, machine))
            return *end;
        if (StepResult end = ListDrivesStep(guarded))
            return *end;
        if (StepResult end = SelectDrivesStep(guarded))
            return *end;
        if (StepResult end = TransferLengthCheckStep(guarded))
            return *end;
        DriveSteps(guarded);
        return SummaryStep(guarded);
    });
}

}  // namespace firmstep
