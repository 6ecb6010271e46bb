// The functions of "ata/device" on a disk reached through SG_IO.
#include "ata_unit.h"

#include <cstring>

#include "sat_pass_through.h"

namespace ata_plugin {

namespace {

using passthrough::readBlock;
using passthrough::writeBlock;

constexpr uint32_t kMaxTransfer = 0x20000;
constexpr uint64_t kMaxLba28 = 0xFFFFFFFull;
constexpr uint64_t kMaxLba48 = 0xFFFFFFFFFFFFull;

// Every protocol of the contract but the translators' soft reset.
bool protocolCarried(uint8_t protocol) {
    return AtaProtocol_IsKnown(protocol) && protocol != ATA_PROTOCOL_SOFT_RESET;
}

// The registers of the block that the input mask names; the expanded ones only
// for a 48-bit protocol.
Taskfile inputTaskfile(const AtaCommandBlock& block, bool& extended) {
    Taskfile tf;
    uint32_t mask = block.inputMask;
    auto take = [mask](uint32_t bit, uint8_t value) -> uint8_t { return (mask & bit) != 0 ? value : 0; };
    tf.device = take(ATA_REG_DEVICE, block.device);
    tf.features = take(ATA_REG_FEATURES, block.features);
    tf.count = take(ATA_REG_COUNT, block.count);
    tf.lbaLow = take(ATA_REG_LBA_LOW, block.lbaLow);
    tf.lbaMid = take(ATA_REG_LBA_MID, block.lbaMid);
    tf.lbaHigh = take(ATA_REG_LBA_HIGH, block.lbaHigh);
    tf.command = take(ATA_REG_COMMAND, block.command);
    extended = false;
    if (AtaProtocol_Is48Bit(block.protocol)) {
        tf.featuresExp = take(ATA_REG_FEATURES_EXP, block.featuresExp);
        tf.countExp = take(ATA_REG_COUNT_EXP, block.countExp);
        tf.lbaLowExp = take(ATA_REG_LBA_LOW_EXP, block.lbaLowExp);
        tf.lbaMidExp = take(ATA_REG_LBA_MID_EXP, block.lbaMidExp);
        tf.lbaHighExp = take(ATA_REG_LBA_HIGH_EXP, block.lbaHighExp);
        extended = (mask & ATA_REG_EXPANDED_SET) != 0;
    }
    return tf;
}

void copyBack(AtaCommandBlock& block, const ReturnedRegisters& r) {
    block.outError = r.error;
    block.outCount = r.count;
    block.outLbaLow = r.lbaLow;
    block.outLbaMid = r.lbaMid;
    block.outLbaHigh = r.lbaHigh;
    block.outDevice = r.device;
    block.outStatus = r.status;
    // The previous registers come back for the 48-bit PIO and non-data protocols.
    if (block.protocol == 1 || block.protocol == 4 || block.protocol == 5) {
        block.outErrorExp = r.errorExp;
        block.outCountExp = r.countExp;
        block.outLbaLowExp = r.lbaLowExp;
        block.outLbaMidExp = r.lbaMidExp;
        block.outLbaHighExp = r.lbaHighExp;
    }
    block.resultFlags |= ATA_RESULT_REGISTERS_VALID;
    if ((r.status & ATA_STATUS_DRQ) != 0) block.conditionFlags |= ATA_CONDITION_DRQ;
}

}  // namespace

AtaUnit::AtaUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
                 std::shared_ptr<passthrough::OpenDisk> disk)
    : DiskUnit(plugin, resource, std::move(path), std::move(disk)) {
    DeviceContract_InitRules(&rules_, DEVICE_CONTRACT_ATA);
    for (int32_t i = 0; i < kAbilityCount; ++i) {
        AtaAbility& ability = abilities_[static_cast<std::size_t>(i)];
        bool lba48 = i == 1 || i == 4 || i == 5;
        ability.identifier = static_cast<uint8_t>(i);
        ability.maxTransferBytes = i < 2 ? 0 : kMaxTransfer;
        ability.minLbaCount = 1;
        ability.maxLba = lba48 ? kMaxLba48 : kMaxLba28;
        ability.writableRegisters = static_cast<uint16_t>(lba48 ? ATA_REG_SET_48BIT : ATA_REG_SET_28BIT);
        ability.returnedRegisters = ability.writableRegisters;
    }
}

int AtaUnit::execute(CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&rules_, command, kAbilityCount, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        writeBlock<uint32_t>(command, 0);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        writeBlock(command, DeviceSettingsSupport{0x0021, 0x0001});
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
    case DEVICE_FUNCTION_SET_SETTING:
        return answerSetting(command, "ATA", true, error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        writeBlock<int32_t>(command, kAbilityCount);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY:
        return copyAbility(command, abilities_, error);
    default:
        return doAtaCommand(command, error);
    }
}

int AtaUnit::doAtaCommand(CvCommand* command, CvError* error) {
    auto* block = static_cast<AtaCommandBlock*>(command->buffers[0]);
    if (!protocolCarried(block->protocol)) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Protocol not supported: %d", block->protocol);
    }
    PassThroughRequest request;
    request.taskfile = inputTaskfile(*block, request.extend);
    request.dma = AtaProtocol_IsDma(block->protocol) != 0;
    request.direction = AtaProtocol_IsDataIn(block->protocol)    ? DataDirection::In
                        : AtaProtocol_IsDataOut(block->protocol) ? DataDirection::Out
                                                                 : DataDirection::None;
    if ((block->options & ATA_OPTION_OFFLINE) != 0) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    }
    if (request.direction != DataDirection::None) {
        if (command->buffers[1] == nullptr) return CvSetError(error, CV_ERROR_INVALID_INPUT, "data buffer is null");
        if (command->bufferLengths[1] == 0) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "data buffer length is invalid (value is 0)");
        }
        request.data = static_cast<uint8_t*>(command->buffers[1]);
        request.length = command->bufferLengths[1];
    }
    Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    request.timeoutNs = unit.timeoutNs;

    PassThroughResult result = runPassThrough(unit.disk->fd(), request);
    block->timeOrTimeout = result.durationNs;
    block->resultFlags |= ATA_RESULT_DURATION_VALID;
    if (result.registersValid) copyBack(*block, result.registers);
    if (result.systemError != 0) {
        return CvSetError(error, CV_ERROR_FAILED, "ATA_PASS_THROUGH ioctl failed: %d", result.systemError);
    }
    if (result.senseFailure && result.registersValid) {
        return CvSetError(error, CV_ERROR_FAILED,
                          "ATA command failed without an ATA error (sense key 0x%X, ASC/ASCQ 0x%02X/0x%02X)",
                          result.sense.key, result.sense.asc, result.sense.ascq);
    }
    if (result.senseFailure) {
        return CvSetError(error, CV_ERROR_FAILED, "ATA PASS-THROUGH refused (sense key 0x%X, ASC/ASCQ 0x%02X/0x%02X)",
                          result.sense.key, result.sense.asc, result.sense.ascq);
    }
    return CvSetNoError(error);
}

}  // namespace ata_plugin
