// "ata/device" on a simulated ATA drive: the taskfile of an AtaCommandBlock is
// handed to the drive's bus entry point and its registers written back.
#include <array>
#include <chrono>
#include <span>

#include "device_queries.h"
#include "device_unit.h"
#include "simdrive/ata_drive.h"

namespace cvpl_simdrive {

namespace {

constexpr uint32_t kMaxTransferBytes = 0x20000;
constexpr uint64_t kMaxLba28 = 0xFFFFFFFull;
constexpr uint64_t kMaxLba48 = 0xFFFFFFFFFFFFull;
constexpr uint16_t kReadableSettings = 0x0021;  // settings 0 and 5
constexpr uint16_t kWritableSettings = 0x0001;  // setting 0

// One ability per protocol 0 to 5, as the pass-through servers list them.
std::array<AtaAbility, 6> makeAbilities() {
    std::array<AtaAbility, 6> abilities{};
    for (uint8_t protocol = 0; protocol < abilities.size(); ++protocol) {
        AtaAbility& ability = abilities[protocol];
        bool wide = AtaProtocol_Is48Bit(protocol);
        ability.identifier = protocol;
        ability.maxTransferBytes = protocol >= ATA_PROTOCOL_PIO_IN ? kMaxTransferBytes : 0;
        ability.minLbaCount = 1;
        ability.maxLba = wide ? kMaxLba48 : kMaxLba28;
        ability.writableRegisters = ability.returnedRegisters = wide ? ATA_REG_SET_48BIT : ATA_REG_SET_28BIT;
    }
    return abilities;
}

const QueryAnswers& answers() {
    static const std::array<AtaAbility, 6> abilities = makeAbilities();
    static const QueryAnswers answers{.settingKind = "ATA",
                                      .capabilities = 0,
                                      .support = {kReadableSettings, kWritableSettings},
                                      .writesCapabilities = 1,
                                      .constantSetting5 = 1,
                                      .abilities = abilities.data(),
                                      .abilitySize = ATA_ABILITY_SIZE,
                                      .abilityCount = static_cast<int32_t>(abilities.size())};
    return answers;
}

bool carried(uint8_t protocol) {
    return protocol <= ATA_PROTOCOL_PIO_OUT_EXT || (protocol >= ATA_PROTOCOL_DMA_IN && protocol <= ATA_PROTOCOL_DMA_OUT_EXT);
}

simdrive::AtaDataPhase phaseOf(uint8_t protocol) {
    using simdrive::AtaDataPhase;
    if (AtaProtocol_IsDataIn(protocol)) return AtaProtocol_IsDma(protocol) ? AtaDataPhase::DmaIn : AtaDataPhase::PioIn;
    if (AtaProtocol_IsDataOut(protocol)) return AtaProtocol_IsDma(protocol) ? AtaDataPhase::DmaOut : AtaDataPhase::PioOut;
    return AtaDataPhase::None;
}

// Only the registers named in the input mask are written, the expanded ones
// only for a 48-bit protocol; writing one makes the command a 48-bit one.
simdrive::AtaRequest requestFrom(const AtaCommandBlock& block) {
    simdrive::AtaRequest request;
    uint32_t mask = block.inputMask;
    bool wide = AtaProtocol_Is48Bit(block.protocol);
    auto value = [&](uint32_t bit, uint8_t written) -> uint8_t { return (mask & bit) ? written : 0; };
    auto expanded = [&](uint32_t bit, uint8_t written) -> uint8_t {
        if (!wide || !(mask & bit)) return 0;
        request.extended = true;
        return written;
    };
    simdrive::AtaInputs& in = request.registers;
    in.device = value(ATA_REG_DEVICE, block.device);
    in.features = value(ATA_REG_FEATURES, block.features);
    in.featuresExp = expanded(ATA_REG_FEATURES_EXP, block.featuresExp);
    in.count = value(ATA_REG_COUNT, block.count);
    in.countExp = expanded(ATA_REG_COUNT_EXP, block.countExp);
    in.lbaLow = value(ATA_REG_LBA_LOW, block.lbaLow);
    in.lbaLowExp = expanded(ATA_REG_LBA_LOW_EXP, block.lbaLowExp);
    in.lbaMid = value(ATA_REG_LBA_MID, block.lbaMid);
    in.lbaMidExp = expanded(ATA_REG_LBA_MID_EXP, block.lbaMidExp);
    in.lbaHigh = value(ATA_REG_LBA_HIGH, block.lbaHigh);
    in.lbaHighExp = expanded(ATA_REG_LBA_HIGH_EXP, block.lbaHighExp);
    in.command = value(ATA_REG_COMMAND, block.command);
    request.phase = phaseOf(block.protocol);
    return request;
}

// All output registers come back, the expanded ones for 48-bit protocols.
void storeReply(AtaCommandBlock& block, const simdrive::AtaReply& reply) {
    const simdrive::AtaOutputs& out = reply.registers;
    bool wide = AtaProtocol_Is48Bit(block.protocol);
    block.outDevice = out.device;
    block.outError = out.error;
    block.outErrorExp = 0;
    block.outCount = out.count;
    block.outCountExp = wide ? out.countExp : 0;
    block.outLbaLow = out.lbaLow;
    block.outLbaLowExp = wide ? out.lbaLowExp : 0;
    block.outLbaMid = out.lbaMid;
    block.outLbaMidExp = wide ? out.lbaMidExp : 0;
    block.outLbaHigh = out.lbaHigh;
    block.outLbaHighExp = wide ? out.lbaHighExp : 0;
    block.outStatus = out.status;
    block.resultFlags |= ATA_RESULT_REGISTERS_VALID;
    if (out.status & ATA_STATUS_DRQ) block.conditionFlags |= ATA_CONDITION_DRQ;
}

int doAtaCommand(DeviceUnit& unit, CvCommand* command, CvError* error) {
    auto* block = static_cast<AtaCommandBlock*>(command->buffers[0]);
    if (!carried(block->protocol)) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Protocol not supported: %d", block->protocol);
    }
    if (block->options & ATA_OPTION_OFFLINE) return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    simdrive::AtaRequest request = requestFrom(*block);
    if (request.phase != simdrive::AtaDataPhase::None) {
        if (command->buffers[1] == nullptr) return CvSetError(error, CV_ERROR_INVALID_INPUT, "data buffer is null");
        if (command->bufferLengths[1] == 0) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "data buffer length is invalid (value is 0)");
        }
        request.data = std::span(static_cast<uint8_t*>(command->buffers[1]), command->bufferLengths[1]);
    }
    auto& drive = static_cast<simdrive::AtaDrive&>(*unit.drive);
    simdrive::AtaReply reply;
    auto start = std::chrono::steady_clock::now();
    if (drive.execute(request, reply) == simdrive::BusResult::DeviceGone) {
        return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    block->timeOrTimeout = static_cast<uint64_t>(elapsed.count());
    block->resultFlags |= ATA_RESULT_DURATION_VALID;
    storeReply(*block, reply);
    return CvSetNoError(error);
}

}  // namespace

int executeAtaCommand(DeviceUnit& unit, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&unit.rules, command, answers().abilityCount, error)) return 0;
    if (command->function == DEVICE_FUNCTION_DO_COMMAND) return doAtaCommand(unit, command, error);
    return answerQuery(unit, answers(), command, error);
}

}  // namespace cvpl_simdrive
