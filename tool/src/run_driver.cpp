#include "run_driver.h"

#include "command_line.h"
#include "exit_delay.h"
#include "exit_status.h"
#include "framework_log.h"
#include "help_text.h"
#include "output.h"
#include "selection_hooks.h"
#include "summary.h"

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
    CloseLogFile();
    return status;
}

int EndRunWaitingFirst(RunContext& run, int status)
{
    WaitExitDelay(run.options.exitDelaySeconds);
    ShutDownFramework(run);
    CloseLogFile();
    return status;
}

int AbandonRun(RunContext& run, int status)
{
    WaitExitDelay(run.options.exitDelaySeconds);
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
    const int entries = ReadModelStringFile(run.options.modelFile);
    if (entries < 0) {
        ToolFlush();  // the reader has said that the file cannot be opened
        return EndRun(run, kExitModelFile);
    }
    if (entries == 0) {
        ToolPrint("ERROR: The model string file '%s' contains no valid entries\n", run.options.modelFile);
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

int SummaryStep(RunContext& run)
{
    PrintSummary(run.state.flags, run.successes, run.failures);
    ToolFlush();
    run.exitStatus = FinalExitStatus(run.exitStatus, run.successes, run.failures);
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
    if (StepResult end = ReadModelFileStep(run))
        return *end;
    InitializeFrameworkStep(run);

    // Configuration, discovery, listing, selection and the per-drive work follow
    // here, ending in SummaryStep. Until they are in place the run ends once
    // the framework has come up.
    return EndRun(run, kExitSuccess);
}

}  // namespace firmstep
