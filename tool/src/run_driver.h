// The run of firmstep from the banner to the exit status, as a sequence of steps.
#pragma once

#include "run_state.h"
#include "tool_options.h"

#include <corvane.h>

#include <optional>

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
};

// A step either lets the run go on (no value) or has ended it with a status.
using StepResult = std::optional<int>;

// Runs firmstep and returns its exit status.
int RunFirmstep(int argc, char** argv);

// The steps, in run order.
void PrintBannerStep(RunContext& run);
StepResult ParseCommandLineStep(RunContext& run);
StepResult ReadModelFileStep(RunContext& run);
void InitializeFrameworkStep(RunContext& run);
// Prints the summary and ends the run with the status the drives left.
int SummaryStep(RunContext& run);

// Ways to end a run. Each waits the exit delay and closes the log file last.
// Shuts the framework down (when it is up), then waits.
int EndRun(RunContext& run, int status);
// Waits first, then shuts the framework down.
int EndRunWaitingFirst(RunContext& run, int status);
// Leaves the framework as it is: the way out after an unexpected fault.
int AbandonRun(RunContext& run, int status);

}  // namespace firmstep
