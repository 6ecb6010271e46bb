#include "nvme_update.h"

#include "attempt_series.h"
#include "drive_identity.h"
#include "framework_calls.h"
#include "nvme_admin.h"
#include "output.h"
#include "run_state.h"
#include "tool_options.h"

#include <device_contracts.h>

#include <string>

namespace firmstep {
namespace {

constexpr std::uint64_t kFirmwareCommandTimeoutNs = 60000000000ull;

NvmeCommandBlock MakeBlock(std::uint8_t opcode, std::uint32_t dword10, std::uint32_t dword11)
{
    NvmeCommandBlock block{};
    block.submission.opcode = opcode;
    block.submission.namespaceId = 0;
    block.submission.cdw10 = dword10;
    block.submission.cdw11 = dword11;
    block.timeout = kFirmwareCommandTimeoutNs;
    return block;
}

// Commit actions 1 and 2 activate the slot at the next controller level
// reset; action 3 activates at once unless the completion names a reset;
// action 0 only stores the image, which no reset activates.
ActivationReset PendingAfterCommit(std::uint8_t action, ActivationReset named)
{
    if (action == 1 || action == 2)
        return ActivationReset::ControllerLevel;
    if (action == 3)
        return named;
    return ActivationReset::None;
}

}  // namespace

int NvmeImageDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image,
                      std::uint32_t transferLength, bool debug, CvError& error)
{
    const auto imageLength = static_cast<std::uint32_t>(image.size());
    if (!CheckNvmeDownload(transferLength, error) || imageLength % 4 != 0)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Firmware image download failed");

    for (std::uint32_t offset = 0; offset < imageLength;) {
        const std::uint32_t length = imageLength - offset < transferLength ? imageLength - offset : transferLength;
        if (debug) {
            ToolPrint(" offset %Xh; length %Xh\n", offset, length);
            ToolFlush();
        }
        NvmeCommandBlock block = MakeBlock(NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD, length / 4 - 1, offset / 4);
        if (!ExecuteNvmeAdmin(machine, path, block, image.data() + offset, length, error))
            return 0;
        if (NvmeCompletionFailed(block))
            return CvSetError(&error, NvmeStatusCode(block), "Firmware image download failed");
        offset += length;
    }
    return 1;
}

int NvmeCommit(CvUID machine, AccessPath path, std::uint8_t slot, std::uint8_t action, ActivationReset& needed,
               CvError& error)
{
    needed = ActivationReset::None;
    if (slot > kMaxNvmeSlot || action > kMaxNvmeCommitAction)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Firmware commit failed; invalid slot or action");
    NvmeCommandBlock block = MakeBlock(NVME_ADMIN_FIRMWARE_COMMIT, std::uint32_t{action} * 8u + slot, 0);
    if (!ExecuteNvmeAdmin(machine, path, block, nullptr, 0, error))
        return 0;
    if (!NvmeCompletionFailed(block))
        return 1;
    // These statuses are not refusals: the image is in the slot, and the drive
    // only waits for a reset to run it.
    needed = CommitActivationReset(block);
    if (needed != ActivationReset::None)
        return CvSetNoError(&error);
    return CvSetError(&error, NvmeStatusCode(block), "Firmware activate failed");
}

int NvmeReset(CvUID machine, AccessPath path, CvError& error)
{
    return ExecuteOnService(machine, path, NVME_DEVICE_FUNCTION_CONTROLLER_RESET, 0, nullptr, 0, nullptr, 0, error);
}

bool CheckNvmeDownload(std::uint32_t transferLength, CvError& error)
{
    if (transferLength == 0 || transferLength % 4 != 0)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; I/O transfer length %u is not a multiple of 4 bytes",
                          transferLength) != 0;
    return true;
}

int NvmeUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error)
{
    const StepLog log = request.Log(error);
    const std::string revisionBefore = identity.firmwareRevision;
    const auto download = [&] {
        return NvmeImageDownload(request.machine, request.path, request.image, request.transferLength,
                                 request.Has(kFlagDebug), error) != 0;
    };
    ActivationReset resetNeeded = ActivationReset::None;
    const auto commit = [&] {
        return NvmeCommit(request.machine, request.path, request.nvmeSlot, request.nvmeCommitAction, resetNeeded,
                          error) != 0;
    };
    const auto reset = [&] { return NvmeReset(request.machine, request.path, error) != 0; };
    // The reset the committed image waits for before the drive runs it.
    ActivationReset pending = ActivationReset::None;

    bool updated = true;
    if (!request.image.empty()) {
        ToolPrint("  Downloading firmware (I/O transfer length = %u) ...\n", request.transferLength);
        ToolFlush();
        updated = RunReportedSeries(request.attempts, "  SUCCESS: Firmware image download completed successfully\n",
                                    download, StepKind::Download, log);
    }

    if (updated && request.Has(kFlagActivate)) {
        const int slots = NvmeSlotCount(identity.firmwareUpdate);
        if (request.nvmeSlot >= slots) {
            ToolPrint("  WARNING: The device %d has %d slots, but trying to commit to slot %d anyway\n",
                      static_cast<int>(request.driveNumber), slots, request.nvmeSlot);
            ToolFlush();
        }
        updated = RunReportedSeries(request.attempts, "  SUCCESS: NVMe firmware commit completed successfully\n",
                                    commit, StepKind::Commit, log);
        if (updated && resetNeeded != ActivationReset::None) {
            ToolPrint("  NOTE: The firmware was committed; the drive needs %s to run it\n",
                      ActivationResetText(resetNeeded));
            ToolFlush();
        }
        if (updated)
            pending = PendingAfterCommit(request.nvmeCommitAction, resetNeeded);
    }
    bool resetDone = false;
    if (updated && request.Has(kFlagNvmeReset)) {
        updated = RunReportedSeries(request.attempts, "  SUCCESS: NVMe reset completed successfully\n", reset,
                                    StepKind::Reset, log);
        resetDone = updated;
    }

    // The refresh has its own error record, so that a failed update keeps its
    // reason for the FAILURE lines.
    CvError identifyError{};
    const bool identified = ReadNvmeIdentity(request.machine, request.path, identity, identifyError) != 0;
    log.Add(StepKind::Identify, 1, identified, identifyError);
    // The controller reset is a controller level reset; a drive that runs
    // another revision after it has taken the new firmware whatever reset it
    // asked for.
    if (resetDone && (pending == ActivationReset::ControllerLevel ||
                      (identified && revisionBefore != identity.firmwareRevision)))
        pending = ActivationReset::None;
    if (pending != ActivationReset::None)
        log.NeedsReset(ActivationResetText(pending));
    if (identified)
        ToolPrint("  %s  %s  FW %s\n", identity.model, identity.serialNumber, identity.firmwareRevision);
    else
        ToolPrint("  ERROR retrieving Identify data for Device %d: %s\n  Error Code: %d\n",
                  static_cast<int>(request.driveNumber), identifyError.message, identifyError.code);
    ToolFlush();
    return updated ? 1 : 0;
}

}  // namespace firmstep
