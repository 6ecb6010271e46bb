// The report file's part of the run: started right after the command line is
// parsed, written at every end of the run from then on.
#include "exit_status.h"
#include "output.h"
#include "report_json.h"
#include "run_driver.h"

#include <corvane.h>

#include <exception>
#include <filesystem>
#include <system_error>

namespace firmstep {

void RunContext::NoteOutcome(RunOutcome outcome, std::string message)
{
    if (!report)
        return;
    report->outcome = outcome;
    report->message = std::move(message);
}

namespace {

// Whether the report would replace one of the files the run reads: a slip
// such as "-report fw.bin" must not destroy the image.
bool IsAnInputFile(const ToolOptions& options)
{
    for (const char* input : {options.firmwareFile, options.modelFile, options.configFile}) {
        std::error_code ignored;
        if (input != nullptr && std::filesystem::equivalent(options.reportFile, input, ignored))
            return true;
    }
    return false;
}

}  // namespace

StepResult StartReportStep(RunContext& run)
{
    if (run.options.reportFile == nullptr)
        return {};
    std::string reason;
    if (IsAnInputFile(run.options))
        reason = "it is one of the files the run reads";
    if (!reason.empty() || !run.reportFile.Prepare(run.options.reportFile, reason)) {
        ToolPrint("ERROR: Firmware WAS NOT downloaded/activated - cannot write the report file '%s': %s\n",
                  run.options.reportFile, reason.c_str());
        ToolFlush();
        return EndRun(run, kExitCommandLineError);
    }
    RunReport& report = run.report.emplace();
    report.started = UtcTimestamp();
    for (int i = 0; i < run.argc && run.argv[i] != nullptr; ++i)
        report.commandLine.emplace_back(run.argv[i]);
    return {};
}

void WriteReport(RunContext& run, int status)
{
    if (!run.report || !run.reportFile.Prepared())
        return;
    std::string reason;
    try {
        RunReport& report = run.report.value();
        const bool noneSelected = report.outcome == RunOutcome::NothingSelected;
        for (DriveRecord& drive : report.drives)
            drive.selected =
                !noneSelected && IsRowChosen(run.state.drives, run.state.explicitSelection, drive.number);
        RunEnd end;
        end.frameworkVersion = CvGetVersion();
        end.finished = UtcTimestamp();
        end.flags = run.state.flags;
        end.successes = run.successes;
        end.failures = run.failures;
        end.exitStatus = status;
        if (run.reportFile.Commit(ReportText(ReportDocument(report, end)), reason))
            return;
    } catch (const std::exception& fault) {
        reason = fault.what();
    }
    ToolPrint("ERROR: Cannot write the report file '%s': %s\n", run.reportFile.Path().c_str(), reason.c_str());
    ToolFlush();
}

}  // namespace firmstep
