// "scsi/device" on a SAS drive: each CDB goes to the controller as a SCSI
// pass-through; the controller answers the SCSI status, the sense data and the
// bytes moved.
#include <array>
#include <vector>

#include "storelib_services.h"

namespace storelib_plugin {

namespace {

const DeviceQueryAnswers& answers() {
    static const auto abilities = [] {
        std::array<ScsiAbility, DEVICE_SCSI_ABILITY_COUNT> list{};
        DeviceContract_FillScsiAbilities(list.data(), DEVICE_SCSI_GENERIC_TRANSFER, DEVICE_SCSI_OPERATION_TRANSFER);
        return list;
    }();
    static const DeviceQueryAnswers answers{.settingKind = "CCISS",
                                            .capabilities = 0,
                                            .support = {1, 1},
                                            .writesCapabilities = 1,
                                            .constantSetting5 = 0,
                                            .abilities = abilities.data(),
                                            .abilitySize = SCSI_ABILITY_SIZE,
                                            .abilityCount = DEVICE_SCSI_ABILITY_COUNT};
    return answers;
}

// The block's direction (1 in, 2 out, 3 both) as the controller names it.
uint8_t requestDirection(uint8_t direction) {
    switch (direction) {
    case SCSI_DIRECTION_IN: return STORELIB_SCSI_DIRECTION_IN;
    case SCSI_DIRECTION_OUT: return STORELIB_SCSI_DIRECTION_OUT;
    case SCSI_DIRECTION_BIDIRECTIONAL: return STORELIB_SCSI_DIRECTION_BOTH;
    default: return STORELIB_SCSI_DIRECTION_NONE;
    }
}

int doScsiCommand(DeviceRecord& record, CvCommand* command, CvError* error) {
    auto* block = static_cast<ScsiCommandBlock*>(command->buffers[0]);
    if (block->direction > SCSI_DIRECTION_BIDIRECTIONAL) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported data direction: %d", block->direction);
    }
    // A longer CDB would reach the drive cut short.
    if (block->cdbLength > STORELIB_SCSI_CDB_CAPACITY) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB of %d bytes is longer than %d", block->cdbLength,
                          STORELIB_SCSI_CDB_CAPACITY);
    }
    const uint32_t length = command->bufferLengths[1];
    auto* data = static_cast<uint8_t*>(command->buffers[1]);
    std::vector<uint8_t> buffer(STORELIB_SCSI_REQUEST_SIZE + static_cast<std::size_t>(length));
    StoreLibScsiRequest request{};
    request.deviceId = record.deviceId;
    request.one = 1;
    std::memcpy(&request.logicalUnit, reinterpret_cast<const uint8_t*>(block) + offsetof(ScsiCommandBlock, logicalUnit),
                1);
    request.direction = requestDirection(block->direction);
    request.timeoutSeconds = timeoutSeconds(record.timeout());
    request.cdbLength = block->cdbLength;
    std::memcpy(request.cdb, block->cdb, block->cdbLength);
    request.dataLength = length;
    std::memcpy(buffer.data(), &request, sizeof request);
    bool toDrive = request.direction == STORELIB_SCSI_DIRECTION_OUT || request.direction == STORELIB_SCSI_DIRECTION_BOTH;
    bool fromDrive = request.direction == STORELIB_SCSI_DIRECTION_IN || request.direction == STORELIB_SCSI_DIRECTION_BOTH;
    if (toDrive && length > 0) std::memcpy(buffer.data() + STORELIB_SCSI_DATA_OFFSET, data, length);

    std::array<uint8_t, STORELIB_SENSE_CAPACITY> sense{};
    uint64_t duration = 0;
    uint32_t status = sendPassThrough(record, STORELIB_PASS_THROUGH_SCSI, buffer, sense.data(),
                                      static_cast<uint32_t>(sense.size()), duration);
    if (status != STORELIB_STATUS_SUCCESS) {
        return CvSetError(error, CV_ERROR_FAILED, "Storelib Passthru failed, error %Xh\n", status);
    }
    std::memcpy(&request, buffer.data(), sizeof request);
    if (fromDrive && length > 0) std::memcpy(data, buffer.data() + STORELIB_SCSI_DATA_OFFSET, length);
    block->status = request.scsiStatus;
    block->senseLength = std::min<uint8_t>(request.senseLength, SCSI_SENSE_CAPACITY);
    std::memcpy(block->sense, sense.data(), block->senseLength);
    if (request.dataLength < length) block->conditionFlags = SCSI_CONDITION_UNDERRUN;
    block->duration = duration;
    block->resultFlags |= SCSI_RESULT_DURATION_VALID;
    return CvSetNoError(error);
}

int execute(void* userData, CvCommand* command, CvError* error) {
    auto& record = *static_cast<DeviceRecord*>(userData);
    if (!DeviceContract_CheckCommand(&record.rules, command, DEVICE_SCSI_ABILITY_COUNT, error)) return 0;
    if (command->function == DEVICE_FUNCTION_DO_COMMAND) return doScsiCommand(record, command, error);
    return answerQuery(record, answers(), command, error);
}

}  // namespace

CvServiceDescriptor scsiServiceFor(DeviceRecord& record) {
    DeviceContract_InitRules(&record.rules, DEVICE_CONTRACT_SCSI);
    DeviceContract_SetFunction(&record.rules, DEVICE_FUNCTION_DO_COMMAND, 1, SCSI_COMMAND_BLOCK_SIZE, "do command");
    for (uint8_t code = SCSI_DEVICE_FUNCTION_RESET; code < DEVICE_CONTRACT_FUNCTION_SLOTS; ++code) {
        DeviceContract_SetFunction(&record.rules, code, 0, 0, nullptr);
    }
    return deviceServiceFor(record, SCSI_DEVICE_SERVICE_TYPE, execute);
}

}  // namespace storelib_plugin
