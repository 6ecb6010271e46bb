#include "run_report.h"

#include "framework_calls.h"
#include "text_format.h"

#include <chrono>
#include <ctime>

namespace firmstep {

std::string UtcTimestamp()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string FormatWwn(const DriveIdentity& identity, std::uint32_t typeMark)
{
    const unsigned words = (typeMark & kMarkAta) != 0 ? 4 : 2;
    std::string text;
    for (unsigned i = 0; i < words; ++i)
        text += FormatText("%04X", identity.wwn[i]);
    return text;
}

MachineRecord DescribeMachine(CvUID machine)
{
    MachineRecord record;
    record.uid = machine;
    CvError ignored{};
    CvMachineInfo info{};
    if (CvMachine_GetInfo(machine, &info, &ignored))
        record.url = info.url;
    return record;
}

std::vector<DriveRecord> DescribeDrives(const DriveTable& table)
{
    std::vector<DriveRecord> drives;
    for (std::uint32_t i = 0; i < table.count && i < kDriveTableCapacity; ++i) {
        const DriveEntry& row = table.rows[i];
        DriveRecord drive;
        drive.number = i;
        drive.model = row.identity.model;
        drive.serialNumber = row.identity.serialNumber;
        drive.firmwareRevision = row.identity.firmwareRevision;
        drive.type = DriveTypeName(row.marks);
        drive.wwn = FormatWwn(row.identity, row.marks);
        for (std::uint32_t j = 0; j < row.pathCount && j < kMaxAccessPaths; ++j) {
            PathRecord path;
            path.resource = row.paths[j].resource;
            path.service = row.paths[j].service;
            // Names only: a failed read leaves the name empty and the run goes on.
            CvError ignored{};
            CvResourceInfo resource{};
            if (CvResourceProxy_GetInfo(table.machine, path.resource, &resource, &ignored))
                path.resourceName = resource.name;
            CvServiceInfo service{};
            if (Framework().getServiceInfo(table.machine, path.resource, path.service, &service, &ignored))
                path.serviceType = service.type;
            drive.paths.push_back(std::move(path));
        }
        drives.push_back(std::move(drive));
    }
    return drives;
}

void StepLog::Add(StepKind kind, std::uint32_t attempts, bool succeeded) const
{
    static const CvError kNoError{};
    Add(kind, attempts, succeeded, error != nullptr ? *error : kNoError);
}

void StepLog::Add(StepKind kind, std::uint32_t attempts, bool succeeded, const CvError& reason) const
{
    if (record == nullptr)
        return;
    StepRecord step;
    step.kind = kind;
    step.path = path;
    step.attempts = attempts;
    step.succeeded = succeeded;
    if (!succeeded) {
        step.errorCode = reason.code;
        step.message = reason.message;
    }
    record->steps.push_back(std::move(step));
}

void StepLog::NeedsReset(const char* what) const
{
    if (record != nullptr)
        record->resetNeeded = what != nullptr ? what : "";
}

}  // namespace firmstep
