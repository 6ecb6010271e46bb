// "scsi/device" on a simulated SCSI logical unit: the CDB of a ScsiCommandBlock
// is handed to the unit's bus entry point from this path's nexus, and status,
// sense and the underrun condition are written back.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <span>

#include "device_queries.h"
#include "device_unit.h"
#include "simdrive/scsi_drive.h"

namespace cvpl_simdrive {

namespace {

constexpr uint16_t kSettingsSupported = 0x0001;  // setting 0, read and write
constexpr uint8_t kMaxCdbLength = 16;

const QueryAnswers& answers() {
    static const auto abilities = [] {
        std::array<ScsiAbility, DEVICE_SCSI_ABILITY_COUNT> list{};
        DeviceContract_FillScsiAbilities(list.data(), DEVICE_SCSI_GENERIC_TRANSFER, DEVICE_SCSI_OPERATION_TRANSFER);
        return list;
    }();
    static const QueryAnswers answers{.settingKind = "SCSI",
                                      .capabilities = 0,
                                      .support = {kSettingsSupported, kSettingsSupported},
                                      .writesCapabilities = 1,
                                      .constantSetting5 = 0,
                                      .abilities = abilities.data(),
                                      .abilitySize = SCSI_ABILITY_SIZE,
                                      .abilityCount = static_cast<int32_t>(abilities.size())};
    return answers;
}

int doScsiCommand(DeviceUnit& unit, CvCommand* command, CvError* error) {
    auto* block = static_cast<ScsiCommandBlock*>(command->buffers[0]);
    // A simulated unit is reached directly, never through an adapter's own
    // interface, so logical units and task attributes cannot be chosen.
    if (block->options & SCSI_OPTION_LOGICAL_UNIT) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "specifying the lun is not supported without MPT");
    }
    if (block->options & SCSI_OPTION_TASK_ATTRIBUTE) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "task attributes are not supported without MPT");
    }
    if (block->cdbLength > kMaxCdbLength) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB too large: %d", block->cdbLength);
    }
    simdrive::ScsiRequest request;
    request.nexus = unit.nexus;
    request.cdb = std::span<const uint8_t>(block->cdb, block->cdbLength);
    switch (block->direction) {
    case SCSI_DIRECTION_NONE: request.direction = simdrive::ScsiDataDirection::None; break;
    case SCSI_DIRECTION_IN: request.direction = simdrive::ScsiDataDirection::In; break;
    case SCSI_DIRECTION_OUT: request.direction = simdrive::ScsiDataDirection::Out; break;
    case SCSI_DIRECTION_BIDIRECTIONAL:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "bi-directional commands are not supported");
    default:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported data direction: %d", block->direction);
    }
    uint32_t asked = 0;
    if (request.direction != simdrive::ScsiDataDirection::None && command->buffers[1] != nullptr) {
        asked = command->bufferLengths[1];
        request.data = std::span(static_cast<uint8_t*>(command->buffers[1]), asked);
    }
    auto& drive = static_cast<simdrive::ScsiDrive&>(*unit.drive);
    simdrive::ScsiReply reply;
    auto start = std::chrono::steady_clock::now();
    if (drive.execute(request, reply) == simdrive::BusResult::DeviceGone) {
        return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    block->duration = static_cast<uint64_t>(elapsed.count());
    block->resultFlags |= SCSI_RESULT_DURATION_VALID;
    block->status = reply.status;
    block->senseLength = static_cast<uint8_t>(std::min<std::size_t>(reply.senseLength, SCSI_SENSE_CAPACITY));
    std::memcpy(block->sense, reply.sense.data(), block->senseLength);
    if (reply.transferred < asked) block->conditionFlags |= SCSI_CONDITION_UNDERRUN;
    return CvSetNoError(error);
}

// Functions 7 to 14 need an adapter's interface that a simulated unit lacks.
int refuseAdapterFunction(uint8_t function, CvCommand* command, CvError* error) {
    switch (function) {
    case SCSI_DEVICE_FUNCTION_RESET:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Resets are not supported on Windows yet");
    case SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT: {
        uint16_t none = 0;
        std::memcpy(command->buffers[0], &none, sizeof none);
        return CvSetNoError(error);
    }
    case SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT:
        return CvSetError(error, CV_ERROR_FAILED, "Task Management is not supported ");
    case SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Sending primitives is not supported without MPT");
    case SCSI_DEVICE_FUNCTION_GET_TOPOLOGY:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Topology information not available for this unit");
    case SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "SAS address not available for this unit");
    case SCSI_DEVICE_FUNCTION_TAG_IDS:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Tag Ids are not supported in Windows");
    case SCSI_DEVICE_FUNCTION_FETCH_TASK_MANAGEMENT:
        return CvSetError(error, CV_ERROR_FAILED, "Task Management Function fetching not supported");
    default:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", function);
    }
}

}  // namespace

int executeScsiCommand(DeviceUnit& unit, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&unit.rules, command, answers().abilityCount, error)) return 0;
    if (command->function == DEVICE_FUNCTION_DO_COMMAND) return doScsiCommand(unit, command, error);
    if (command->function > DEVICE_FUNCTION_DO_COMMAND) return refuseAdapterFunction(command->function, command, error);
    return answerQuery(unit, answers(), command, error);
}

}  // namespace cvpl_simdrive
