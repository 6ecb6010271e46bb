#include "drive_step.h"

#include "ata_update.h"
#include "file_handle.h"
#include "firmware_image.h"
#include "model_strings.h"
#include "nvme_update.h"
#include "output.h"
#include "scsi_update.h"
#include "summary.h"
#include "text_format.h"
#include "transfer_limit.h"
#include "update_request.h"

#include <cstdio>

namespace firmstep {
namespace {

constexpr std::uint32_t kBlockSize = 512;
constexpr std::uint32_t kUnreportedTransferLength = 0x2000000;

void PrintDriveLine(std::uint32_t driveNumber, const DriveIdentity& identity)
{
    ToolPrint("Device %d = %s  %s  FW %s\n", static_cast<int>(driveNumber), identity.model, identity.serialNumber,
              identity.firmwareRevision);
}

bool CanOpenForReading(const char* path)
{
    return FileHandle(std::fopen(path, "rb")) != nullptr;
}

std::uint32_t LibraryTransferLimit(std::uint32_t typeMark, CvUID machine, AccessPath path, CvError& error)
{
    switch (typeMark) {
    case kMarkAta:
        return AtaTransferLimit(machine, path, error);
    case kMarkScsi:
        return ScsiTransferLimit(machine, path, error);
    case kMarkNvme:
        return NvmeTransferLimit(machine, path, error);
    default:
        return kOtherTransferLimit;
    }
}

// Sends the update through one path by the drive's type. `firmwarePath` is the
// file the image came from (null or empty: no image).
int UpdateThroughPath(const UpdateRequest& request, std::uint32_t typeMark, const char* firmwarePath,
                      const FirmwareImage& image, DriveIdentity& identity, CvError& error)
{
    const bool haveImage = firmwarePath != nullptr && firmwarePath[0] != '\0';
    switch (typeMark) {
    case kMarkAta:
        if (haveImage && !CheckAtaDownload(firmwarePath, image.fileSize, request.transferLength, error))
            return 0;
        return AtaUpdate(request, identity, error);
    case kMarkScsi:
        if (haveImage && !CheckScsiDownload(firmwarePath, image.Length(), request.transferLength, error))
            return 0;
        return ScsiUpdate(request, identity, error);
    case kMarkNvme:
        if (identity.firmwareUpdate == 0) {
            ToolPrint("  WARNING: The device %d reports that download is not supported, but trying anyway\n",
                      static_cast<int>(request.driveNumber));
            ToolFlush();
        }
        if (haveImage && !CheckNvmeDownload(request.transferLength, error))
            return 0;
        return NvmeUpdate(request, identity, error);
    default:
        return CvSetError(&error, CV_ERROR_NOT_SUPPORTED, "Device %d is of no known type",
                          static_cast<int>(request.driveNumber));
    }
}

void RecordSkipped(UpdateRecord& record, const DriveIdentity& identity, const char* firmwarePath)
{
    record.result = UpdateResult::Skipped;
    record.firmwareFile = firmwarePath;
    record.revisionBefore = identity.firmwareRevision;
    record.errorCode = CV_ERROR_FAILED;
    record.message = FormatText("Cannot open firmware file '%s'", firmwarePath);
}

// The drive's result as the FAILURE lines give it, and the revision it reports
// when the last identity read after an update succeeded.
void RecordOutcome(UpdateRecord& record, bool updated, const DriveIdentity& identity, const CvError& error)
{
    record.result = updated ? UpdateResult::Succeeded : UpdateResult::Failed;
    if (!updated) {
        record.errorCode = error.code;
        record.message = error.message;
    }
    for (auto step = record.steps.rbegin(); step != record.steps.rend(); ++step) {
        if (step->kind != StepKind::Identify)
            continue;
        if (step->succeeded)
            record.revisionAfter = identity.firmwareRevision;
        break;
    }
}

}  // namespace

std::uint32_t DefaultTransferLength(const DriveIdentity& identity)
{
    if (identity.maxDownloadBlocks == 0)
        return kUnreportedTransferLength;
    return std::uint32_t{identity.maxDownloadBlocks} * kBlockSize;
}

bool TransferLengthUnfitForAta(std::int32_t acceptedTransferLength, const DriveTable& drives)
{
    if (acceptedTransferLength == 0 || acceptedTransferLength % static_cast<std::int32_t>(kBlockSize) == 0)
        return false;
    for (std::uint32_t i = 0; i < drives.count && i < kDriveTableCapacity; ++i) {
        if ((drives.rows[i].marks & kMarkAta) != 0)
            return true;
    }
    return false;
}

void RunDriveStep(ToolOptions options, std::uint32_t driveNumber, RunState& state, CvError& error,
                  int& successes, int& failures, int& exitStatus, DriveRecord* report)
{
    CvSetNoError(&error);
    if (driveNumber >= state.drives.count || !IsRowChosen(state.drives, state.explicitSelection, driveNumber))
        return;
    DriveEntry& drive = state.drives.rows[driveNumber];

    const char* firmwarePath = options.firmwareFile;
    if (state.Has(kFlagModelMode)) {
        const ModelEntry* entry = FindModelEntry(drive.identity);
        if (entry == nullptr)
            return;
        firmwarePath = entry->firmwareFile;
        if (!CanOpenForReading(firmwarePath)) {
            if (report != nullptr)
                RecordSkipped(report->update.emplace(), drive.identity, firmwarePath);
            PrintDriveLine(driveNumber, drive.identity);
            ToolPrint("  ERROR: Firmware WAS NOT downloaded - cannot open firmware file '%s'\n\n", firmwarePath);
            ToolFlush();
            return;
        }
    }
    const bool haveFirmwarePath = firmwarePath != nullptr && firmwarePath[0] != '\0';

    PrintDriveLine(driveNumber, drive.identity);
    ToolFlush();
    UpdateRecord* record = nullptr;
    if (report != nullptr) {
        record = &report->update.emplace();
        record->firmwareFile = haveFirmwarePath ? firmwarePath : "";
        record->revisionBefore = drive.identity.firmwareRevision;
    }

    const bool lengthGiven = options.acceptedTransferLength > 0;
    std::uint32_t transferLength = DefaultTransferLength(drive.identity);
    if (lengthGiven) {
        const auto given = static_cast<std::uint32_t>(options.acceptedTransferLength);
        if (given > transferLength)
            ToolPrint("  WARNING: Device %d may not support this I/O transfer length, but trying anyway\n",
                      static_cast<int>(driveNumber));
        transferLength = given;
    }

    const std::uint32_t typeMark = drive.marks & kMarkTypes;
    const CvUID machine = state.drives.machine;
    // The image is read once for the drive and shared by all its paths; a read
    // that failed is tried again on the next path.
    FirmwareImage image;
    bool updated = false;
    const std::uint32_t pathCount = drive.pathCount < kMaxAccessPaths ? drive.pathCount : kMaxAccessPaths;
    for (std::uint32_t j = 0; j < pathCount && !updated; ++j) {
        const AccessPath path = drive.paths[j];
        const std::uint32_t limit = LibraryTransferLimit(typeMark, machine, path, error);
        if (transferLength > limit) {
            if (lengthGiven)
                ToolPrint("  WARNING: Library for device %d may not support this I/O transfer length, but "
                          "trying anyway\n",
                          static_cast<int>(driveNumber));
            else
                transferLength = limit;
        }

        if (haveFirmwarePath && image.Empty() && !LoadFirmwareImage(firmwarePath, image, error))
            continue;

        UpdateRequest request;
        request.machine = machine;
        request.path = path;
        request.driveNumber = driveNumber;
        request.attempts = options.retries;
        request.transferLength = transferLength;
        request.image = image.Data();
        request.flags = state.flags;
        request.sdsbPort = state.sdsbPort;
        request.sasMode = options.sasMode;
        request.nvmeSlot = options.nvmeSlot;
        request.nvmeCommitAction = options.nvmeCommitAction;
        request.pathIndex = j;
        request.record = record;
        if (record != nullptr)
            record->transferLength = transferLength;
        updated = UpdateThroughPath(request, typeMark, firmwarePath, image, drive.identity, error) != 0;
        ToolPrint("\n");
    }

    if (updated) {
        ++successes;
    } else {
        ++failures;
        ToolPrint("  FAILURE: %s\n  Error Code: %d\n", error.message, error.code);
        ToolFlush();
    }
    if (record != nullptr)
        RecordOutcome(*record, updated, drive.identity, error);
    // Kept current so that a run abandoned after this drive ends with the
    // status of every drive processed so far.
    exitStatus = DrivesExitStatus(successes, failures);
}

}  // namespace firmstep
