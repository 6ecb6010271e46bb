// "ata/device" on a SATA drive: each taskfile goes to the controller as an STP
// pass-through with a host-to-device register FIS, and the registers come back
// from the device-to-host register FIS of the answer.
#include <array>
#include <vector>

#include "storelib_services.h"

namespace storelib_plugin {

namespace {

constexpr uint32_t kMaxTransferBytes = 32u * 1024 * 1024;
constexpr uint8_t kAbilityProtocols[] = {0, 1, 2, 3, 4, 5, 10, 11, 12, 13};
constexpr int32_t kAbilityCount = static_cast<int32_t>(std::size(kAbilityProtocols));
// Block protocols that only this server carries, and their STP flags.
constexpr uint8_t kBlockProtocolIn = 14;
constexpr uint8_t kBlockProtocolOut = 15;

std::array<AtaAbility, std::size(kAbilityProtocols)> makeAbilities() {
    std::array<AtaAbility, std::size(kAbilityProtocols)> abilities{};
    for (std::size_t i = 0; i < abilities.size(); ++i) {
        AtaAbility& ability = abilities[i];
        ability.identifier = kAbilityProtocols[i];
        ability.maxTransferBytes = kAbilityProtocols[i] <= ATA_PROTOCOL_NON_DATA_EXT ? 0 : kMaxTransferBytes;
        ability.minLbaCount = 1;
    }
    return abilities;
}

const DeviceQueryAnswers& answers() {
    static const auto abilities = makeAbilities();
    static const DeviceQueryAnswers answers{.settingKind = "ATA",
                                            .capabilities = 0,
                                            .support = {1, 1},
                                            .writesCapabilities = 0,
                                            .constantSetting5 = 0,
                                            .abilities = abilities.data(),
                                            .abilitySize = ATA_ABILITY_SIZE,
                                            .abilityCount = kAbilityCount};
    return answers;
}

struct StpProtocol {
    bool carried;
    uint8_t direction;
    uint32_t flags;
};

StpProtocol stpProtocolOf(uint8_t protocol) {
    switch (protocol) {
    case ATA_PROTOCOL_NON_DATA:
    case ATA_PROTOCOL_NON_DATA_EXT: return {true, STORELIB_STP_DIRECTION_NONE, STORELIB_STP_NON_DATA};
    case ATA_PROTOCOL_PIO_IN:
    case ATA_PROTOCOL_PIO_IN_EXT: return {true, STORELIB_STP_DIRECTION_IN, STORELIB_STP_PIO_IN};
    case ATA_PROTOCOL_PIO_OUT:
    case ATA_PROTOCOL_PIO_OUT_EXT: return {true, STORELIB_STP_DIRECTION_OUT, STORELIB_STP_PIO_OUT};
    case ATA_PROTOCOL_DMA_IN:
    case ATA_PROTOCOL_DMA_IN_EXT: return {true, STORELIB_STP_DIRECTION_IN, STORELIB_STP_DMA_IN};
    case ATA_PROTOCOL_DMA_OUT:
    case ATA_PROTOCOL_DMA_OUT_EXT: return {true, STORELIB_STP_DIRECTION_OUT, STORELIB_STP_DMA_OUT};
    case kBlockProtocolIn: return {true, STORELIB_STP_DIRECTION_IN, STORELIB_STP_BLOCK_IN};
    case kBlockProtocolOut: return {true, STORELIB_STP_DIRECTION_OUT, STORELIB_STP_BLOCK_OUT};
    default: return {false, STORELIB_STP_DIRECTION_NONE, 0};
    }
}

// Every input register goes into the FIS, whatever the input mask says: the
// controller takes the taskfile whole.
void fillCommandFis(uint8_t* fis, const AtaCommandBlock& block) {
    fis[0] = STORELIB_FIS_REGISTER_H2D;
    fis[1] = STORELIB_FIS_COMMAND_BIT;
    fis[2] = block.command;
    fis[3] = block.features;
    fis[4] = block.lbaLow;
    fis[5] = block.lbaMid;
    fis[6] = block.lbaHigh;
    fis[7] = block.device;
    fis[8] = block.lbaLowExp;
    fis[9] = block.lbaMidExp;
    fis[10] = block.lbaHighExp;
    fis[11] = block.featuresExp;
    fis[12] = block.count;
    fis[13] = block.countExp;
}

// The output registers from the device-to-host FIS; the expanded ones for the
// 48-bit protocols.
void takeResponseFis(AtaCommandBlock& block, const StoreLibStpRequest& request) {
    const uint8_t* fis = request.responseFis;
    block.outStatus = fis[2];
    block.outError = fis[3];
    block.outLbaLow = fis[4];
    block.outLbaMid = fis[5];
    block.outLbaHigh = fis[6];
    block.outDevice = fis[7];
    block.outCount = fis[12];
    if (AtaProtocol_Is48Bit(block.protocol)) {
        block.outLbaLowExp = fis[8];
        block.outLbaMidExp = fis[9];
        block.outLbaHighExp = fis[10];
        block.outCountExp = fis[13];
    }
}

int doAtaCommand(DeviceRecord& record, CvCommand* command, CvError* error) {
    AtaCommandBlock block;
    std::memcpy(&block, command->buffers[0], sizeof block);
    StpProtocol protocol = stpProtocolOf(block.protocol);
    if (!protocol.carried) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported ATA protocol: %d", block.protocol);
    }
    const uint32_t length = command->bufferLengths[1];
    auto* data = static_cast<uint8_t*>(command->buffers[1]);
    std::vector<uint8_t> buffer(STORELIB_STP_REQUEST_SIZE + static_cast<std::size_t>(length));
    StoreLibStpRequest request{};
    request.deviceId = static_cast<uint8_t>(record.deviceId);
    request.direction = protocol.direction;
    request.timeoutSeconds = timeoutSeconds(record.timeout());
    request.protocolFlags = protocol.flags;
    fillCommandFis(request.commandFis, block);
    request.dataOffset = STORELIB_STP_DATA_OFFSET;
    request.dataLength = length;
    std::memcpy(buffer.data(), &request, sizeof request);
    if (protocol.direction == STORELIB_STP_DIRECTION_OUT && length > 0) {
        std::memcpy(buffer.data() + STORELIB_STP_REQUEST_SIZE, data, length);
    }

    uint64_t duration = 0;
    uint32_t status = sendPassThrough(record, STORELIB_PASS_THROUGH_STP, buffer, nullptr, 0, duration);
    std::memcpy(&request, buffer.data(), sizeof request);
    CvLog(CV_LOG_INFO, "taskfile status=0x%02x lbaLow=0x%02x secCount=0x%02x error=0x%02x", request.responseFis[2],
          request.responseFis[4], request.responseFis[12], request.responseFis[3]);
    if (status != STORELIB_STATUS_SUCCESS) {
        return CvSetError(error, CV_ERROR_FAILED, "StoreLib STP Pass-through failed, error 0x%X", status);
    }
    if (protocol.direction == STORELIB_STP_DIRECTION_IN && length > 0) {
        std::memcpy(data, buffer.data() + STORELIB_STP_REQUEST_SIZE, length);
    }
    takeResponseFis(block, request);
    if (block.outStatus & ATA_STATUS_DRQ) block.conditionFlags = ATA_CONDITION_DRQ;
    block.resultFlags |= ATA_RESULT_REGISTERS_VALID;
    block.resultFlags |= ATA_RESULT_DURATION_VALID;
    block.timeOrTimeout = duration;
    std::memcpy(command->buffers[0], &block, sizeof block);
    return CvSetNoError(error);
}

int execute(void* userData, CvCommand* command, CvError* error) {
    auto& record = *static_cast<DeviceRecord*>(userData);
    if (!DeviceContract_CheckCommand(&record.rules, command, kAbilityCount, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_DO_COMMAND: return doAtaCommand(record, command, error);
    case ATA_DEVICE_FUNCTION_READ_TASKFILE: return CvSetError(error, CV_ERROR_FAILED, "not supported");
    case ATA_DEVICE_FUNCTION_RESET: return CvSetError(error, CV_ERROR_FAILED, "not yet supported");
    default: return answerQuery(record, answers(), command, error);
    }
}

}  // namespace

CvServiceDescriptor ataServiceFor(DeviceRecord& record) {
    DeviceContract_InitRules(&record.rules, DEVICE_CONTRACT_ATA);
    DeviceContract_SetFunction(&record.rules, DEVICE_FUNCTION_DO_COMMAND, 1, ATA_COMMAND_BLOCK_SIZE, "do command");
    DeviceContract_SetFunction(&record.rules, ATA_DEVICE_FUNCTION_READ_TASKFILE, 1, DEVICE_LENGTH_UNCHECKED, "");
    DeviceContract_SetFunction(&record.rules, ATA_DEVICE_FUNCTION_RESET, 1, DEVICE_LENGTH_UNCHECKED, "");
    return deviceServiceFor(record, ATA_DEVICE_SERVICE_TYPE, execute);
}

}  // namespace storelib_plugin
