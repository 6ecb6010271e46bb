#include "drive_discovery.h"

#include "drive_identity.h"
#include "framework_calls.h"
#include "output.h"
#include "text_format.h"
#include "vt_drive.h"

#include <device_contracts.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace firmstep {
namespace {

// The type mark of a service type, or 0 for a service that does not reach a
// drive. Compared by prefix, so a type with a suffix still counts.
std::uint32_t DriveTypeOfService(const char* type)
{
    if (std::strncmp(type, ATA_DEVICE_SERVICE_TYPE, 10) == 0)
        return kMarkAta;
    if (std::strncmp(type, SCSI_DEVICE_SERVICE_TYPE, 11) == 0)
        return kMarkScsi;
    if (std::strncmp(type, NVME_DEVICE_SERVICE_TYPE, 11) == 0)
        return kMarkNvme;
    return 0;
}

// Entries of a list call; a count outside the list's room is taken at its bound.
std::int32_t ListedCount(const CvUIDList& list)
{
    return std::clamp<std::int32_t>(list.count, 0, CV_UID_LIST_CAPACITY);
}

void PrintNonVtDrive(const DriveIdentity& identity)
{
    ToolPrint("Non-VT drive\n");
    ToolPrint("  Model String = %s\n", identity.model);
    ToolPrint("  Serial Number= %s\n", identity.serialNumber);
    ToolPrint("  WWN          = 0x%X 0x%X\n", identity.wwn[0], identity.wwn[1]);
}

// Folds a drive already in the table: the first row with the same model and
// serial number gains the candidate's path. Returns false when the drive is new.
bool FoldIntoTwin(DriveTable& table, const DriveIdentity& candidate, AccessPath path, bool debug)
{
    for (std::uint32_t i = 0; i < table.count; ++i) {
        DriveEntry& twin = table.rows[i];
        if (std::strcmp(twin.identity.model, candidate.model) != 0 ||
            std::strcmp(twin.identity.serialNumber, candidate.serialNumber) != 0)
            continue;
        if (debug)
            ToolPrint("  [%3u %3u] is same as [%3u %3u] (%s %s)\n", twin.paths[0].resource, twin.paths[0].service,
                      path.resource, path.service, twin.identity.model, twin.identity.serialNumber);
        if (twin.pathCount < kMaxAccessPaths)
            twin.paths[twin.pathCount++] = path;
        return true;
    }
    return false;
}

// Judges the drive behind one service and records it when it is a VT drive.
void ConsiderService(CvUID machine, AccessPath path, std::uint32_t typeMark, RunState& state, CvError& error)
{
    DriveIdentity identity{};
    if (!ReadDriveIdentity(typeMark, machine, path, state.sdsbPort, identity, error))
        return;  // a drive that does not answer is passed over silently
    const bool debug = state.Has(kFlagDebug);
    if (!IsVtDrive(identity)) {
        if (debug)
            PrintNonVtDrive(identity);
        return;
    }
    DriveTable& table = state.drives;
    if (table.count >= kDriveTableCapacity)
        return;
    if (FoldIntoTwin(table, identity, path, debug))
        return;
    DriveEntry& row = table.rows[table.count];
    row.marks = (row.marks & kMarkSelected) | typeMark;  // a "-dev" mark stays
    row.pathCount = 1;
    row.paths[0] = path;
    row.identity = identity;
    ++table.count;
}

}  // namespace

int DiscoverDrives(CvUID machine, RunState& state, CvError& error)
{
    DriveTable& table = state.drives;
    table.count = 0;
    table.machine = machine;
    // Room for 4096 identifiers each: on the heap, not the stack.
    const auto resources = std::make_unique<CvUIDList>();
    const auto services = std::make_unique<CvUIDList>();
    const FrameworkCalls& framework = Framework();
    if (!framework.getResourceList(machine, resources.get(), &error))
        return 0;
    for (std::int32_t r = 0; r < ListedCount(*resources); ++r) {
        const CvUID resource = resources->uids[r];
        if (!framework.getServiceList(machine, resource, services.get(), &error))
            return 0;
        for (std::int32_t s = 0; s < ListedCount(*services); ++s) {
            const CvUID service = services->uids[s];
            CvServiceInfo info{};
            if (!framework.getServiceInfo(machine, resource, service, &info, &error))
                return 0;
            info.type[sizeof info.type - 1] = '\0';
            if (const std::uint32_t typeMark = DriveTypeOfService(info.type))
                ConsiderService(machine, AccessPath{resource, service}, typeMark, state, error);
        }
    }
    if (table.count == 0)
        return CvSetError(&error, CV_ERROR_FAILED, "Unable to find a VT service on any resource on machine %d",
                          static_cast<int>(machine));
    return CvSetNoError(&error);
}

std::string FormatDriveList(const RunState& state)
{
    std::string text;
    if (!state.Has(kFlagListOnly) && !state.Has(kFlagModelMode)) {
        text += state.Has(kFlagActivate) ? "This application can activate firmware on the following VT drives.\n\n"
                                         : "This application can download firmware to the following VT drives.\n\n";
    }
    const DriveTable& table = state.drives;
    text += FormatText("Number of VT drives found = %d\n\n", static_cast<int>(table.count));
    text += FormatText("%3s   %-32s %-20s %-8s %s\n", "Dev", "Model", "Serial Number", "FW Rev", "Type");
    for (std::uint32_t i = 0; i < table.count && i < kDriveTableCapacity; ++i) {
        if (!IsRowChosen(table, state.explicitSelection, i))
            continue;
        const DriveEntry& row = table.rows[i];
        text += FormatText("%3d   %-32s %-20s %-8s %s\n", static_cast<int>(i), row.identity.model,
                           row.identity.serialNumber, row.identity.firmwareRevision, DriveTypeName(row.marks));
    }
    text += "\n";
    return text;
}

void PrintDriveList(const RunState& state)
{
    ToolPrint("%s", FormatDriveList(state).c_str());
}

}  // namespace firmstep
