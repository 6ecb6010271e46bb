#include "report_json.h"

#include "help_text.h"
#include "run_state.h"

#include <sys/utsname.h>

namespace firmstep {
namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

const char* ResultName(UpdateResult result)
{
    switch (result) {
    case UpdateResult::Succeeded:
        return "succeeded";
    case UpdateResult::Failed:
        return "failed";
    case UpdateResult::Skipped:
        return "skipped";
    }
    return "failed";
}

Json StepDocument(const StepRecord& step)
{
    return Json{{"step", StepKindName(step.kind)},
                {"path", step.path},
                {"attempts", step.attempts},
                {"result", step.succeeded ? "succeeded" : "failed"},
                {"errorCode", step.errorCode},
                {"message", TextOrNull(step.message)}};
}

Json UpdateDocument(const UpdateRecord& update)
{
    Json steps = Json::array();
    for (const StepRecord& step : update.steps)
        steps.push_back(StepDocument(step));
    return Json{{"firmwareFile", TextOrNull(update.firmwareFile)},
                {"transferLength", update.transferLength},
                {"revisionBefore", update.revisionBefore},
                {"revisionAfter", update.revisionAfter ? Json(*update.revisionAfter) : Json(nullptr)},
                {"result", ResultName(update.result)},
                {"errorCode", update.errorCode},
                {"message", update.result == UpdateResult::Succeeded ? Json(nullptr) : Json(update.message)},
                {"resetNeeded", TextOrNull(update.resetNeeded)},
                {"steps", std::move(steps)}};
}

Json DriveDocument(const DriveRecord& drive)
{
    Json paths = Json::array();
    for (const PathRecord& path : drive.paths)
        paths.push_back(Json{{"resource", TextOrNull(path.resourceName)},
                             {"service", TextOrNull(path.serviceType)},
                             {"resourceUid", path.resource},
                             {"serviceUid", path.service}});
    return Json{{"number", drive.number},
                {"model", drive.model},
                {"serialNumber", drive.serialNumber},
                {"firmwareRevision", drive.firmwareRevision},
                {"type", drive.type},
                {"wwn", drive.wwn},
                {"paths", std::move(paths)},
                {"selected", drive.selected},
                {"update", drive.update ? UpdateDocument(*drive.update) : Json(nullptr)}};
}

}  // namespace

const char* OutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed:
        return "completed";
    case RunOutcome::Listed:
        return "listed";
    case RunOutcome::NothingSelected:
        return "nothingSelected";
    case RunOutcome::NoDrives:
        return "noDrives";
    case RunOutcome::ModelFileUnusable:
        return "modelFileUnusable";
    case RunOutcome::ConfigurationFailed:
        return "configurationFailed";
    case RunOutcome::NoMachine:
        return "noMachine";
    case RunOutcome::TransferLengthRefused:
        return "transferLengthRefused";
    case RunOutcome::Abandoned:
        return "abandoned";
    }
    return "abandoned";
}

const char* StepKindName(StepKind kind)
{
    switch (kind) {
    case StepKind::Download:
        return "download";
    case StepKind::Activation:
        return "activation";
    case StepKind::Commit:
        return "commit";
    case StepKind::Reset:
        return "reset";
    case StepKind::Identify:
        return "identify";
    }
    return "download";
}

Json HostDocument()
{
    utsname names{};
    if (::uname(&names) != 0)
        return Json{{"name", nullptr}, {"system", nullptr}, {"release", nullptr}, {"architecture", nullptr}};
    return Json{{"name", names.nodename},
                {"system", names.sysname},
                {"release", names.release},
                {"architecture", names.machine}};
}

Json ReportDocument(const RunReport& report, const RunEnd& end)
{
    Json arguments = Json::array();
    for (const std::string& argument : report.commandLine)
        arguments.push_back(argument);
    Json drives = Json::array();
    for (const DriveRecord& drive : report.drives)
        drives.push_back(DriveDocument(drive));
    Json machine = nullptr;
    if (report.machine)
        machine = Json{{"uid", report.machine->uid}, {"url", TextOrNull(report.machine->url)}};

    return Json{{"reportVersion", kReportVersion},
                {"tool", {{"name", kToolName}, {"version", kToolVersion}}},
                {"framework", {{"name", "Corvane"}, {"version", end.frameworkVersion}}},
                {"host", HostDocument()},
                {"started", report.started},
                {"finished", end.finished},
                {"commandLine", std::move(arguments)},
                {"operation", OperationWord(end.flags)},
                {"machine", std::move(machine)},
                {"outcome", OutcomeName(report.outcome)},
                {"message", TextOrNull(report.message)},
                {"drives", std::move(drives)},
                {"summary",
                 {{"successes", end.successes},
                  {"failures", end.failures},
                  {"controllerResets", (end.flags & kFlagNvmeReset) != 0}}},
                {"exitStatus", end.exitStatus}};
}

std::string ReportText(const Json& document)
{
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace firmstep
