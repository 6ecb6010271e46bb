#include "scsi_update.h"

#include "attempt_series.h"
#include "drive_identity.h"
#include "framework_calls.h"
#include "output.h"
#include "run_state.h"
#include "scsi_command.h"

#include <device_contracts.h>

namespace firmstep {
namespace {

constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kCdbLength = 10;
constexpr std::uint32_t kRefreshPauseMilliseconds = 2000;

void PrintCdb(const ScsiCommandBlock& block)
{
    for (unsigned i = 0; i < kCdbLength; ++i)
        ToolPrint("SCSI CDB[%u]= %u (0x%02X)\n", i, block.cdb[i], block.cdb[i]);
}

}  // namespace

int ScsiDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image, std::uint32_t transferLength,
                 std::uint8_t mode, bool debug, CvError& error)
{
    const auto imageLength = static_cast<std::uint32_t>(image.size());
    if (transferLength == 0 || imageLength > kScsiMaxImageLength)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Firmware download failed");

    for (std::uint32_t offset = 0; offset < imageLength;) {
        const std::uint32_t length = imageLength - offset < transferLength ? imageLength - offset : transferLength;
        ScsiCommandBlock block{};
        block.direction = SCSI_DIRECTION_OUT;
        block.cdbLength = kCdbLength;
        block.cdb[0] = kWriteBuffer;
        block.cdb[1] = static_cast<std::uint8_t>(mode & 0x1F);
        block.cdb[2] = 0;
        block.cdb[3] = static_cast<std::uint8_t>(offset >> 16);
        block.cdb[4] = static_cast<std::uint8_t>(offset >> 8);
        block.cdb[5] = static_cast<std::uint8_t>(offset);
        block.cdb[6] = static_cast<std::uint8_t>(length >> 16);
        block.cdb[7] = static_cast<std::uint8_t>(length >> 8);
        block.cdb[8] = static_cast<std::uint8_t>(length);
        block.cdb[9] = 0;
        if (debug) {
            ToolPrint(" parameters.dataLengths[ 1 ]=%d\n", static_cast<int>(length));
            PrintCdb(block);
            ToolFlush();
        }
        if (!ExecuteScsiCommand(machine, path, block, image.data() + offset, length, debug, error))
            return 0;
        if (block.status != 0) {
            if (debug)
                PrintScsiStatusAndSense(block);
            return CvSetError(&error, block.status, "Firmware download failed");
        }
        offset += length;
    }
    return 1;
}

int ScsiActivate(CvUID machine, AccessPath path, bool debug, CvError& error)
{
    ScsiCommandBlock block{};
    block.direction = SCSI_DIRECTION_NONE;
    block.cdbLength = kCdbLength;
    block.cdb[0] = kWriteBuffer;
    block.cdb[1] = kScsiActivateMode;
    if (debug) {
        PrintCdb(block);
        ToolFlush();
    }
    const int result = ExecuteScsiCommand(machine, path, block, nullptr, 0, debug, error);
    // The status decides even when the call failed: a server that could not
    // deliver the command leaves 0xFF there.
    if (block.status == 0)
        return result;
    if (debug)
        PrintScsiStatusAndSense(block);
    return CvSetError(&error, block.status, "Firmware activate failed");
}

bool CheckScsiDownload(const char* fileName, std::uint64_t imageLength, std::uint32_t transferLength,
                       CvError& error)
{
    if (imageLength > kScsiMaxImageLength)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; firmware file '%s' is %llu bytes long, "
                          "more than the %u bytes a SCSI download can carry",
                          fileName, static_cast<unsigned long long>(imageLength), kScsiMaxImageLength) != 0;
    if (transferLength == 0)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; I/O transfer length is 0") != 0;
    return true;
}

int ScsiUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error)
{
    const bool debug = request.Has(kFlagDebug);
    const bool done = RunDownloadAndActivate(
        request.attempts, !request.image.empty(), request.transferLength, request.Has(kFlagActivate),
        [&] {
            return ScsiDownload(request.machine, request.path, request.image, request.transferLength, request.sasMode,
                                debug, error) != 0;
        },
        [&] { return ScsiActivate(request.machine, request.path, debug, error) != 0; }, request.Log(error));
    if (!done)
        return 0;
    // Mode 0x0E saves the image for an activation (mode 0x0F), a hard reset or
    // a power-on to apply.
    if (!request.image.empty() && (request.sasMode & 0x1F) == kScsiDeferredMode && !request.Has(kFlagActivate))
        request.Log(error).NeedsReset(kPendingActivationText);

    Framework().sleepMilliseconds(kRefreshPauseMilliseconds);
    const bool identified = ReadScsiIdentity(request.machine, request.path, identity, error) != 0;
    request.Log(error).Add(StepKind::Identify, 1, identified);
    if (identified)
        ToolPrint("  %s  %s  FW %s\n", identity.model, identity.serialNumber, identity.firmwareRevision);
    else
        ToolPrint("  ERROR retrieving Inquiry data for Device %d: %s\n  Error Code: %d\n",
                  static_cast<int>(request.driveNumber), error.message, error.code);
    ToolFlush();
    return 1;
}

}  // namespace firmstep
