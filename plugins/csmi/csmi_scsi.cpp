// "scsi/device" on a SAS end device: commands travel as SSP pass-through; the
// SCSI status and the response bytes (the device's sense data) come back into
// the block.
#include <algorithm>
#include <cstring>

#include "csmi_records.h"
#include "csmi_request.h"

namespace csmi {

namespace {

// The CDB field and the additional CDB field hold 40 bytes between them; the
// additional part is counted in 4-byte words.
constexpr uint8_t kMaxCdbLength = CSMI_SSP_CDB_SIZE + CSMI_SSP_ADDITIONAL_CDB_SIZE;

bool sspFlags(uint8_t direction, uint32_t& flags) {
    switch (direction) {
    case SCSI_DIRECTION_NONE: flags = CSMI_SSP_NO_DATA; return true;
    case SCSI_DIRECTION_IN: flags = CSMI_SSP_READ; return true;
    case SCSI_DIRECTION_OUT: flags = CSMI_SSP_WRITE; return true;
    default: return false;
    }
}

int doScsiCommand(Device& device, CvCommand* command, CvError* error) {
    auto& block = *static_cast<ScsiCommandBlock*>(command->buffers[0]);
    const uint32_t length = command->bufferLengths[1];
    auto* data = static_cast<uint8_t*>(command->buffers[1]);
    std::vector<uint8_t> buffer = makeRequest(CSMI_SSP_BUFFER_SIZE(length), CSMI_CC_SSP_PASSTHRU);
    {
        std::lock_guard lock(device.mutex);
        CsmiSspBuffer ssp{};
        std::memcpy(&ssp, buffer.data(), sizeof ssp);
        ssp.phyIdentifier = device.phyIdentifier;
        ssp.portIdentifier = device.portIdentifier;
        ssp.connectionRate = 0;
        std::memcpy(ssp.destinationSasAddress, device.sasAddress.data(), sizeof ssp.destinationSasAddress);
        std::memcpy(ssp.logicalUnit, &block.logicalUnit, sizeof ssp.logicalUnit);
        // A CDB the two fields cannot carry whole is refused rather than cut.
        const uint8_t cdbLength = block.cdbLength;
        if (cdbLength > kMaxCdbLength || (cdbLength > CSMI_SSP_CDB_SIZE && (cdbLength - CSMI_SSP_CDB_SIZE) % 4 != 0))
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB too large: %d", cdbLength);
        if (cdbLength <= CSMI_SSP_CDB_SIZE) {
            ssp.cdbLength = cdbLength;
            std::memcpy(ssp.cdb, block.cdb, cdbLength);
        } else {
            ssp.cdbLength = CSMI_SSP_CDB_SIZE;
            std::memcpy(ssp.cdb, block.cdb, CSMI_SSP_CDB_SIZE);
            std::memcpy(ssp.additionalCdb, block.cdb + CSMI_SSP_CDB_SIZE, cdbLength - CSMI_SSP_CDB_SIZE);
            ssp.additionalCdbLength = static_cast<uint8_t>((cdbLength - CSMI_SSP_CDB_SIZE) / 4);
        }
        if (!sspFlags(block.direction, ssp.flags))
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported protocol encountered: %d", block.direction);
        ssp.dataLength = block.direction == SCSI_DIRECTION_NONE ? 0 : length;
        if (block.direction == SCSI_DIRECTION_OUT && length != 0)
            std::memcpy(buffer.data() + CSMI_SSP_DATA_OFFSET, data, length);
        std::memcpy(buffer.data(), &ssp, sizeof ssp);
    }
    uint64_t durationNs = 0;
    const int systemError = sendRequest(device.adapter->fd, buffer, durationNs);
    block.resultFlags |= SCSI_RESULT_DURATION_VALID;
    block.duration = durationNs;
    if (systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "IOCTL_SCSI_MINIPORT ioctl failed: %d", systemError);

    CsmiSspBuffer answer{};
    std::memcpy(&answer, buffer.data(), sizeof answer);
    if (block.direction == SCSI_DIRECTION_IN && length != 0)
        std::memcpy(data, buffer.data() + CSMI_SSP_DATA_OFFSET, length);
    if (block.direction != SCSI_DIRECTION_NONE && answer.dataBytes < length)
        block.conditionFlags |= SCSI_CONDITION_UNDERRUN;
    const std::size_t responseLength = std::min<std::size_t>(
        static_cast<std::size_t>(answer.responseLength[0]) << 8 | answer.responseLength[1], SCSI_SENSE_CAPACITY);
    std::memcpy(block.sense, answer.response, responseLength);
    block.senseLength = static_cast<uint8_t>(responseLength);
    block.resultFlags = 0;
    if (answer.header.returnCode != CSMI_STATUS_SUCCESS)
        return CvSetError(error, CV_ERROR_FAILED, "CSMI call failed while doing SCSI command: %d",
                          static_cast<int>(answer.header.returnCode));
    // The device answered: its status replaces the "not delivered" mark.
    block.status = answer.status;
    return CvSetNoError(error);
}

uint64_t sasAddressValue(const Device& device) {
    uint64_t value = 0;
    for (uint8_t byte : device.sasAddress) value = value << 8 | byte;
    return value;
}

}  // namespace

int executeScsi(Device& device, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&device.scsiRules, command, DEVICE_SCSI_ABILITY_COUNT, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_DO_COMMAND: return doScsiCommand(device, command, error);
    case SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS: {
        const uint64_t address = sasAddressValue(device);
        std::memcpy(command->buffers[0], &address, sizeof address);
        return CvSetNoError(error);
    }
    default: {
        const QueryAnswers answers{"SCSI", SCSI_CAPABILITY_SAS_ADDRESS, DEVICE_SCSI_ABILITY_COUNT,
                                   reinterpret_cast<const uint8_t*>(device.scsiAbilities.data()), SCSI_ABILITY_SIZE};
        return answerQuery(device, command, answers, error);
    }
    }
}

}  // namespace csmi
