#include "ata_update.h"

#include "attempt_series.h"
#include "drive_identity.h"
#include "framework_calls.h"
#include "output.h"
#include "run_state.h"

#include <device_contracts.h>

namespace firmstep {
namespace {

constexpr std::uint8_t kCommandDownload = 0x92;
constexpr std::uint8_t kCommandDownloadDma = 0x93;
constexpr std::uint64_t kDownloadTimeoutNs = 60000000000ull;
// Features, count, LBA low, mid and high, command. The offset's high byte goes
// in LBA high, so that register must be written for segments past 128 KiB.
constexpr std::uint32_t kDownloadInputMask = ATA_REG_FEATURES | ATA_REG_COUNT | ATA_REG_LBA_LOW |
                                             ATA_REG_LBA_MID | ATA_REG_LBA_HIGH | ATA_REG_COMMAND;
constexpr std::uint32_t kActivateInputMask = ATA_REG_FEATURES | ATA_REG_COMMAND;
// The second port of a dual-port drive is addressed through the device and the
// expanded features register.
constexpr std::uint32_t kSecondPortRegisters = ATA_REG_DEVICE | ATA_REG_FEATURES_EXP;
constexpr std::uint8_t kSecondPortDevice = 0xA2;
constexpr std::uint8_t kSecondPortFeaturesExp = 0x20;

AtaCommandBlock MakeBlock(const AtaDownloadOptions& options, std::uint32_t inputMask)
{
    AtaCommandBlock block{};
    block.inputMask = inputMask;
    block.outputMask = ATA_REG_SET_28BIT;
    block.command = options.dma ? kCommandDownloadDma : kCommandDownload;
    if (options.sdsbPort == 1) {
        block.inputMask |= kSecondPortRegisters;
        block.device = kSecondPortDevice;
        block.featuresExp = kSecondPortFeaturesExp;
    }
    return block;
}

// A device that sets ERR, or reads back error, count and LBA low all 1, refused
// the command.
bool DeviceRefused(const AtaCommandBlock& block)
{
    return (block.outStatus & 0x01) != 0 ||
           (block.outError == 1 && block.outCount == 1 && block.outLbaLow == 1);
}

int ReportRefusal(const AtaCommandBlock& block, const char* message, CvError& error)
{
    ToolPrint(" task file register status=0x%X lbaLow=0x%X secCount=0x%X error=0x%X\n", block.outStatus,
              block.outLbaLow, block.outCount, block.outError);
    ToolFlush();
    return CvSetError(&error, block.outError, "%s", message);
}

}  // namespace

int AtaDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image, std::uint32_t transferLength,
                const AtaDownloadOptions& options, CvError& error)
{
    const std::uint32_t totalBlocks = static_cast<std::uint32_t>(image.size() / kAtaBlockSize);
    const std::uint32_t segmentBlocks = transferLength / kAtaBlockSize;
    if (totalBlocks == 0 || totalBlocks > kAtaMaxImageBlocks || segmentBlocks == 0)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Firmware download failed");

    for (std::uint32_t offset = 0; offset < totalBlocks;) {
        const std::uint32_t blocks = offset + segmentBlocks > totalBlocks ? totalBlocks - offset : segmentBlocks;
        AtaCommandBlock block = MakeBlock(options, kDownloadInputMask);
        block.protocol = options.dma ? ATA_PROTOCOL_DMA_OUT : ATA_PROTOCOL_PIO_OUT;
        block.timeOrTimeout = kDownloadTimeoutNs;
        block.features = options.subcommand;
        block.count = static_cast<std::uint8_t>(blocks & 0xFF);
        block.lbaLow = static_cast<std::uint8_t>(blocks >> 8);
        block.lbaMid = static_cast<std::uint8_t>(offset & 0xFF);
        block.lbaHigh = static_cast<std::uint8_t>(offset >> 8);
        const std::uint32_t length = blocks * kAtaBlockSize;
        if (options.debug) {
            ToolPrint("subCommandByte=%d", options.subcommand);
            ToolPrint(" nextCommandBlocks=%d", static_cast<int>(blocks));
            ToolPrint(" downloadOffset=%d", static_cast<int>(offset * kAtaBlockSize));
            ToolPrint(" parameters.dataLengths[ 1 ]=%d\n", static_cast<int>(length));
            ToolFlush();
        }
        if (!ExecuteDeviceCommand(machine, path, &block, sizeof block,
                                  image.data() + std::size_t{offset} * kAtaBlockSize, length, error))
            return 0;
        if (DeviceRefused(block))
            return ReportRefusal(block, "Firmware download failed", error);
        offset += blocks;
    }
    return 1;
}

int AtaActivate(CvUID machine, AccessPath path, const AtaDownloadOptions& options, CvError& error)
{
    AtaCommandBlock block = MakeBlock(options, kActivateInputMask);
    block.protocol = ATA_PROTOCOL_NON_DATA;
    block.features = kAtaSubcommandActivate;
    if (options.debug) {
        ToolPrint("subCommandByte=%d", kAtaSubcommandActivate);
        ToolFlush();
    }
    if (!ExecuteDeviceCommand(machine, path, &block, sizeof block, nullptr, 0, error))
        return 0;
    if (DeviceRefused(block))
        return ReportRefusal(block, "Firmware activation failed", error);
    return 1;
}

bool CheckAtaDownload(const char* fileName, std::uint64_t fileSize, std::uint32_t transferLength,
                      CvError& error)
{
    if (fileSize < kAtaBlockSize)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; firmware file '%s' is too small", fileName) != 0;
    if (fileSize % kAtaBlockSize != 0)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; firmware file '%s' is %llu bytes long, "
                          "not a whole number of 512-byte blocks",
                          fileName, static_cast<unsigned long long>(fileSize)) != 0;
    if (fileSize / kAtaBlockSize > kAtaMaxImageBlocks)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; firmware file '%s' is %llu bytes long, "
                          "more than the %u blocks of 512 bytes an ATA download can carry",
                          fileName, static_cast<unsigned long long>(fileSize), kAtaMaxImageBlocks) != 0;
    if (transferLength < kAtaBlockSize)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT,
                          "Firmware download failed; I/O transfer length %u is less than one "
                          "512-byte block",
                          transferLength) != 0;
    return true;
}

int AtaUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error)
{
    AtaDownloadOptions options;
    options.dma = request.Has(kFlagDma);
    options.debug = request.Has(kFlagDebug);
    options.sdsbPort = request.sdsbPort;
    options.subcommand = request.Has(kFlagDeferredDownload) ? kAtaSubcommandDeferred : kAtaSubcommandDownloadAndSave;
    const bool done = RunDownloadAndActivate(
        request.attempts, !request.image.empty(), request.transferLength, request.Has(kFlagActivate),
        [&] {
            return AtaDownload(request.machine, request.path, request.image, request.transferLength, options, error) !=
                   0;
        },
        [&] { return AtaActivate(request.machine, request.path, options, error) != 0; }, request.Log(error));
    if (!done)
        return 0;
    // A deferred download waits for the activation, which the drive also runs
    // at its next power-on.
    if (!request.image.empty() && options.subcommand == kAtaSubcommandDeferred && !request.Has(kFlagActivate))
        request.Log(error).NeedsReset(kPendingActivationText);

    const bool identified = ReadAtaIdentity(request.machine, request.path, request.sdsbPort, identity, error) != 0;
    request.Log(error).Add(StepKind::Identify, 1, identified);
    if (identified)
        ToolPrint("  %s  %s  FW %s\n", identity.model, identity.serialNumber, identity.firmwareRevision);
    else
        ToolPrint("  ERROR retrieving Identify Device data for Device %d: %s\n  Error Code: %d\n",
                  static_cast<int>(request.driveNumber), error.message, error.code);
    ToolFlush();
    return 1;
}

}  // namespace firmstep
