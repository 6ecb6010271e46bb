// The contract functions of a USB bridge unit.
#include "bridge_unit.h"

#include <cstring>

namespace usb_bridge {

using passthrough::readBlock;
using passthrough::writeBlock;

BridgeUnit::BridgeUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
                       std::shared_ptr<passthrough::OpenDisk> disk, uint32_t capabilities,
                       std::vector<AtaAbility> abilities)
    : DiskUnit(plugin, resource, std::move(path), std::move(disk)),
      capabilities_(capabilities),
      abilities_(std::move(abilities)) {
    DeviceContract_InitRules(&rules_, DEVICE_CONTRACT_ATA);
    DeviceContract_SetFunction(&rules_, DEVICE_FUNCTION_DO_COMMAND, 1, ATA_COMMAND_BLOCK_SIZE, "do scsi command");
    if ((capabilities_ & ATA_CAPABILITY_READ_TASKFILE) != 0)
        DeviceContract_SetFunction(&rules_, ATA_DEVICE_FUNCTION_READ_TASKFILE, 1, ATA_TASKFILE_BLOCK_SIZE,
                                   "read taskfile");
    if ((capabilities_ & ATA_CAPABILITY_RESET) != 0)
        DeviceContract_SetFunction(&rules_, ATA_DEVICE_FUNCTION_RESET, 1, DEVICE_LENGTH_UNCHECKED, "soft reset");
}

int BridgeUnit::execute(CvCommand* command, CvError* error) {
    const auto count = static_cast<int32_t>(abilities_.size());
    if (!DeviceContract_CheckCommand(&rules_, command, count, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        writeBlock<uint32_t>(command, capabilities_);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        writeBlock(command, DeviceSettingsSupport{0x0021, 0x0001});
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
    case DEVICE_FUNCTION_SET_SETTING: return answerSetting(command, "ATA", true, error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        writeBlock<int32_t>(command, count);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY: {
        // The kernel's limit for one request on this disk (a USB bridge's
        // queue is often smaller) caps the largest transfer.
        AtaAbility ability = abilities_[static_cast<std::size_t>(DeviceContract_AbilityIndex(command))];
        ability.maxTransferBytes = capTransfer(ability.maxTransferBytes);
        std::memcpy(command->buffers[1], &ability, sizeof ability);
        return CvSetNoError(error);
    }
    case DEVICE_FUNCTION_DO_COMMAND:
        return doCommand(*static_cast<AtaCommandBlock*>(command->buffers[0]),
                         static_cast<uint8_t*>(command->buffers[1]), command->bufferLengths[1], error);
    case ATA_DEVICE_FUNCTION_READ_TASKFILE: {
        auto* block = static_cast<AtaTaskfileBlock*>(command->buffers[0]);
        block->cleared = 0;
        return readTaskfile(*block, error);
    }
    default: return softReset(error);
    }
}

int BridgeUnit::softReset(CvError* error) {
    return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", ATA_DEVICE_FUNCTION_RESET);
}

std::shared_ptr<passthrough::OpenDisk> BridgeUnit::diskOrFail(CvError* error) const {
    std::shared_ptr<passthrough::OpenDisk> disk = snapshot().disk;
    if (!disk) CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    return disk;
}

AtaAbility makeAbility(uint8_t protocol, uint32_t maxTransfer, uint64_t maxLba, uint16_t writable,
                       uint16_t returned) {
    AtaAbility ability{};
    ability.identifier = protocol;
    ability.maxTransferBytes = maxTransfer;
    ability.minLbaCount = 1;
    ability.maxLba = maxLba;
    ability.writableRegisters = writable;
    ability.returnedRegisters = returned;
    return ability;
}

void copyOutputRegisters(const AtaTaskfileBlock& from, AtaCommandBlock& to) {
    to.outDevice = from.device;
    to.outError = from.error;
    to.outErrorExp = from.errorExp;
    to.outCount = from.count;
    to.outCountExp = from.countExp;
    to.outLbaLow = from.lbaLow;
    to.outLbaLowExp = from.lbaLowExp;
    to.outLbaMid = from.lbaMid;
    to.outLbaMidExp = from.lbaMidExp;
    to.outLbaHigh = from.lbaHigh;
    to.outLbaHighExp = from.lbaHighExp;
    to.outStatus = from.status;
}

void markRegistersValid(AtaCommandBlock& block) {
    block.resultFlags |= ATA_RESULT_REGISTERS_VALID;
    if ((block.outStatus & ATA_STATUS_DRQ) != 0) block.conditionFlags |= ATA_CONDITION_DRQ;
}

}  // namespace usb_bridge
