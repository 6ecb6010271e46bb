// The functions of "scsi/device".
#include "scsi_unit.h"

#include <cerrno>
#include <cstring>

#include "sg_pass_through.h"

namespace scsi_plugin {

namespace {

using passthrough::readBlock;
using passthrough::writeBlock;

constexpr std::size_t kMaxHostPortCdb = 16;

void put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

uint32_t timeoutSeconds(uint64_t ns) {
    uint64_t seconds = ns / 1000000000ull;
    return seconds > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
}

struct TaskType {
    uint16_t function;
    uint32_t type;
    uint32_t flags;
};
constexpr TaskType kTaskTypes[] = {
    {SCSI_TM_ABORT_TASK, 1, 0},      {SCSI_TM_ABORT_TASK_SET, 2, 0},        {SCSI_TM_CLEAR_TASK_SET, 6, 0},
    {SCSI_TM_LOGICAL_UNIT_RESET, 5, 0}, {SCSI_TM_TARGET_RESET_FLAGGED, 3, 8}, {SCSI_TM_CLEAR_ACA, 8, 0},
    {SCSI_TM_QUERY_TASK, 7, 0},      {SCSI_TM_QUERY_TASK_SET, 9, 0},        {SCSI_TM_QUERY_ASYNC_EVENT, 10, 0},
    {SCSI_TM_TARGET_RESET, 3, 0},    {SCSI_TM_BUS_RESET, 4, 0},
};

}  // namespace

ScsiUnit::ScsiUnit(passthrough::DiskPlugin& plugin, CvUID resource, const DriveInfoBlock& info,
                   const HostPort& hostPort, std::string path, std::shared_ptr<passthrough::OpenDisk> disk)
    : DiskUnit(plugin, resource, std::move(path), std::move(disk)), hostPort_(hostPort) {
    DeviceContract_InitRules(&rules_, DEVICE_CONTRACT_SCSI);
    DeviceContract_FillScsiAbilities(abilities_.data(), DEVICE_SCSI_GENERIC_TRANSFER, DEVICE_SCSI_OPERATION_TRANSFER);

    if ((info.flags & DRIVE_INFO_DEVICE_BLOCK_VALID) != 0) {
        hasDeviceBlock_ = true;
        std::memcpy(deviceBlock_.data(), info.deviceBlock, deviceBlock_.size());
    }
    // Without the library the host-port data cannot be used: the unit is an
    // ordinary SG_IO unit then.
    if ((info.flags & DRIVE_INFO_HOST_PORT_VALID) != 0 && hostPort_.bound()) {
        mpt_ = true;
        hostPortInfo_ = info.hostPort;
        hasTopology_ = true;
        topology_ = {static_cast<uint32_t>(hostPortInfo_.driveNumber), hostPortInfo_.deviceEntry[0],
                     hostPortInfo_.deviceEntry[1], hostPortInfo_.deviceEntry[2]};
    }
    if ((info.flags & DRIVE_INFO_SCSI_TOPOLOGY_VALID) != 0) {
        hasTopology_ = true;
        std::memcpy(topology_.data(), info.scsiTopology, sizeof info.scsiTopology);
    }
    if ((info.flags & DRIVE_INFO_SAS_ADDRESS_VALID) != 0) {
        hasSasAddress_ = true;
        sasAddress_ = info.sasAddress;
    }
}

uint32_t ScsiUnit::capabilities() const {
    uint32_t bits = mpt_ ? SCSI_CAPABILITY_HOST_PORT : 0;
    if (hasTopology_) bits |= SCSI_CAPABILITY_TOPOLOGY;
    if (hasSasAddress_) bits |= SCSI_CAPABILITY_SAS_ADDRESS;
    return bits;
}

int ScsiUnit::execute(CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&rules_, command, kAbilityCount, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
        writeBlock(command, capabilities());
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT:
        writeBlock(command, DeviceSettingsSupport{0x0001, 0x0001});
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
    case DEVICE_FUNCTION_SET_SETTING:
        return answerSetting(command, "SCSI", false, error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        writeBlock<int32_t>(command, kAbilityCount);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY:
        return copyAbility(command, abilities_, error);
    case DEVICE_FUNCTION_DO_COMMAND:
        return doScsiCommand(command, error);
    case SCSI_DEVICE_FUNCTION_RESET:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Resets are not supported on Windows yet");
    case SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT:
        writeBlock<uint16_t>(command, !mpt_ && hasDeviceBlock_ ? 0x00CF : 0);
        return CvSetNoError(error);
    case SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT:
        return taskManagement(command, error);
    case SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE:
        return sendPrimitive(command, error);
    case SCSI_DEVICE_FUNCTION_GET_TOPOLOGY:
        return topology(command, error);
    case SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS:
        if (!hasSasAddress_) {
            return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "SAS address not available for this unit");
        }
        writeBlock(command, sasAddress_);
        return CvSetNoError(error);
    case SCSI_DEVICE_FUNCTION_TAG_IDS:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Tag Ids are not supported in Windows");
    default:
        return CvSetError(error, CV_ERROR_FAILED, "Task Management Function fetching not supported");
    }
}

int ScsiUnit::doScsiCommand(CvCommand* command, CvError* error) {
    const auto* block = static_cast<const ScsiCommandBlock*>(command->buffers[0]);
    if ((block->options & SCSI_OPTION_LOGICAL_UNIT) != 0) {
        if (!mpt_) {
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "specifying the lun is not supported without MPT");
        }
        return hostPortPath(command, true, error);
    }
    if ((block->options & SCSI_OPTION_TASK_ATTRIBUTE) != 0) {
        if (!mpt_) return CvSetError(error, CV_ERROR_INVALID_INPUT, "task attributes are not supported without MPT");
        return hostPortPath(command, false, error);
    }
    if (block->cdbLength > 16) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB's greater than 16 bytes are not supported in windows");
    }
    if (block->direction == SCSI_DIRECTION_BIDIRECTIONAL) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "bi-directional commands are not supported in windows");
    }
    return systemPath(command, error);
}

int ScsiUnit::systemPath(CvCommand* command, CvError* error) {
    auto* block = static_cast<ScsiCommandBlock*>(command->buffers[0]);
    Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    SgCommand request;
    request.cdb = block->cdb;
    request.cdbLength = block->cdbLength;
    request.direction = block->direction;
    request.data = static_cast<uint8_t*>(command->buffers[1]);
    request.length = command->bufferLengths[1];
    request.timeoutNs = unit.timeoutNs;
    SgOutcome outcome = runSgCommand(unit.disk->fd(), request);
    if (outcome.systemError != 0) {
        return CvSetError(error, CV_ERROR_FAILED, "SCSI system aborted passthru: %d", outcome.systemError);
    }
    block->duration = outcome.durationNs;
    block->resultFlags |= SCSI_RESULT_DURATION_VALID;
    block->status = outcome.status;
    block->senseLength = outcome.senseLength;
    std::memcpy(block->sense, outcome.sense, outcome.senseLength);
    bool moved = request.direction == SCSI_DIRECTION_IN || request.direction == SCSI_DIRECTION_OUT;
    if (moved && outcome.transferred < request.length) block->conditionFlags |= SCSI_CONDITION_UNDERRUN;
    return CvSetNoError(error);
}

int ScsiUnit::hostPortPath(CvCommand* command, bool explicitUnit, CvError* error) {
    auto* block = static_cast<ScsiCommandBlock*>(command->buffers[0]);
    if (block->cdbLength > kMaxHostPortCdb) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB too large: %d", block->cdbLength);
    }
    uint8_t request[HOSTPORT_REQUEST_SIZE] = {};
    uint8_t reply[HOSTPORT_REPLY_SIZE] = {};
    const uint32_t* entry = hostPortInfo_.deviceEntry;
    request[0] = static_cast<uint8_t>(entry[1]);
    request[1] = static_cast<uint8_t>(entry[0]);
    request[4] = block->cdbLength;
    if (explicitUnit) {
        std::memcpy(request + 12, &block->logicalUnit, sizeof block->logicalUnit);
    } else {
        request[13] = static_cast<uint8_t>(entry[2]);
    }
    void* dataIn = nullptr;
    void* dataOut = nullptr;
    uint32_t inLength = 0, outLength = 0, control = 0;
    if (block->direction == SCSI_DIRECTION_IN) {
        dataIn = command->buffers[1];
        inLength = command->bufferLengths[1];
        control = HOSTPORT_CONTROL_READ;
    } else if (block->direction == SCSI_DIRECTION_OUT) {
        dataOut = command->buffers[1];
        outLength = command->bufferLengths[1];
        control = HOSTPORT_CONTROL_WRITE;
    }
    if ((block->options & SCSI_OPTION_TASK_ATTRIBUTE) != 0) control |= static_cast<uint32_t>(block->taskAttribute) << 8;
    put32(request + 20, control);
    std::memcpy(request + 24, block->cdb, block->cdbLength);
    put32(request + 40, inLength + outLength);

    int ok = hostPort_.scsiIo(hostPortInfo_.portRecord, entry[0], entry[1], 0, request, sizeof request, reply,
                              sizeof reply, dataIn, inLength, dataOut, outLength, timeoutSeconds(timeoutNs()), 0,
                              block->cdbLength, block->cdb, control);
    if (ok == 0) {
        int code = errno;
        return CvSetError(error, CV_ERROR_FAILED, "mpt scsi io call failed: %d %s", code, std::strerror(code));
    }
    uint16_t ioc = 0;
    uint32_t senseCount = 0;
    std::memcpy(&ioc, reply + HOSTPORT_REPLY_IOC_STATUS, sizeof ioc);
    std::memcpy(&senseCount, reply + HOSTPORT_REPLY_SENSE_COUNT, sizeof senseCount);
    std::memcpy(&block->taskTag, reply + HOSTPORT_REPLY_TASK_TAG, sizeof block->taskTag);
    ioc &= 0x7FFF;
    uint8_t scsiStatus = reply[HOSTPORT_REPLY_SCSI_STATUS];
    block->status = scsiStatus;
    // Sense data lies behind the reply, as far as the reply buffer reaches.
    uint32_t room = HOSTPORT_REPLY_SIZE - HOSTPORT_SCSI_IO_REPLY_SIZE;
    block->senseLength = static_cast<uint8_t>(std::min(senseCount, room));
    std::memcpy(block->sense, reply + HOSTPORT_SCSI_IO_REPLY_SIZE, block->senseLength);
    if (ioc == HOSTPORT_IOC_STATUS_DATA_UNDERRUN) {
        block->conditionFlags |= SCSI_CONDITION_UNDERRUN;
    } else if (scsiStatus == 0 && ioc != 0) {
        block->status = static_cast<uint16_t>(ioc | SCSI_STATUS_CONTROLLER_ERROR);
    }
    return CvSetNoError(error);
}

int ScsiUnit::taskManagement(CvCommand* command, CvError* error) {
    if (!mpt_) return CvSetError(error, CV_ERROR_FAILED, "Task Management is not supported ");
    if (!DeviceContract_CheckBlockLength(command, SCSI_TASK_MANAGEMENT_BLOCK_SIZE, error)) return 0;
    auto* block = static_cast<ScsiTaskManagementBlock*>(command->buffers[0]);
    block->resultFlags = 0;
    const TaskType* task = nullptr;
    for (const TaskType& candidate : kTaskTypes) {
        if (candidate.function == block->function) task = &candidate;
    }
    if (task == nullptr) {
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Task management function not supported: %d", block->function);
    }
    Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "device is unavailable");
    uint8_t response = 0;
    const uint32_t* entry = hostPortInfo_.deviceEntry;
    std::lock_guard lock(hostPortMutex_);
    int ok = hostPort_.taskManagement(hostPortInfo_.portRecord, task->type, task->flags, entry[0], entry[1], entry[2],
                                      block->taskTag, timeoutSeconds(unit.timeoutNs), &response);
    if (ok == 0) {
        return CvSetError(error, CV_ERROR_FAILED,
                          "Call to lsiScsiTaskManagement failed, return value = %d, response code = %d", 0, response);
    }
    block->resultFlags |= SCSI_TM_RESULT_RESPONSE_VALID;
    block->responseCode = response;
    return CvSetNoError(error);
}

int ScsiUnit::sendPrimitive(CvCommand* command, CvError* error) {
    if (!mpt_) return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Sending primitives is not supported without MPT");
    if (!DeviceContract_CheckBlockLength(command, SAS_PRIMITIVE_BLOCK_SIZE, error)) return 0;
    auto primitive = readBlock<SasPrimitiveBlock>(command);
    uint32_t mode = primitive.sendMode == 1 ? 2 : primitive.sendMode == 2 ? 1 : 8;
    std::lock_guard lock(hostPortMutex_);
    if (hostPort_.sendPrimitive(hostPortInfo_.portRecord, static_cast<uint8_t>(hostPortInfo_.deviceEntry[3]),
                                primitive.primitive, mode) == 0) {
        return CvSetError(error, CV_ERROR_FAILED, "call to lsiSendSasPrimitive() failed");
    }
    return CvSetNoError(error);
}

int ScsiUnit::topology(CvCommand* command, CvError* error) {
    if (!hasTopology_) {
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "Topology information not available for this unit");
    }
    ScsiTopology answer{};
    answer.word3 = static_cast<int32_t>(topology_[3]);
    answer.word0 = topology_[0];
    answer.word1 = topology_[1];
    answer.word2 = topology_[2];
    answer.hostPortDevice = mpt_ ? hostPortInfo_.deviceEntry[3] : 0xFFFFFFFFu;
    writeBlock(command, answer);
    return CvSetNoError(error);
}

}  // namespace scsi_plugin
