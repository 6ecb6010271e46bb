// A simulated SCSI logical unit at the CDB level.
#include "simdrive/scsi_drive.h"

#include <algorithm>

#include "byte_order.h"
#include "scsi_sense.h"

namespace simdrive {

namespace {

// CDB length by group code; 0 for groups without a fixed length.
std::size_t cdbLength(uint8_t opcode) {
    switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 0;
    }
}

// Data-in: at most the allocation length and what the host's buffer holds.
void returnData(const ScsiRequest& request, ScsiReply& reply, std::span<const uint8_t> payload,
                std::size_t allocation) {
    std::size_t length = std::min(payload.size(), allocation);
    if (length == 0) return;
    if (request.direction != ScsiDataDirection::In) {
        return checkCondition(reply, scsi::kKeyAbortedCommand, scsi::kAscDataPhaseError);
    }
    length = std::min(length, request.data.size());
    std::copy_n(payload.begin(), length, request.data.begin());
    reply.transferred = static_cast<uint32_t>(length);
}

}  // namespace

ScsiDrive::ScsiDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store)
    : SimDrive(std::move(description), std::move(store)) {}

BusResult ScsiDrive::execute(const ScsiRequest& request, ScsiReply& reply) {
    std::lock_guard lock(mutex_);
    reply = ScsiReply{};
    if (!admitCommand()) return BusResult::DeviceGone;
    if (request.cdb.empty() || cdbLength(request.cdb[0]) == 0) {
        invalidOpcode(reply);
        return BusResult::Completed;
    }
    uint8_t opcode = request.cdb[0];
    if (request.cdb.size() < cdbLength(opcode)) {
        invalidFieldInCdb(reply, static_cast<uint16_t>(request.cdb.size()));
        return BusResult::Completed;
    }
    uint16_t pending = pendingUnitAttention(request.nexus);
    bool reportsAttention =
        opcode != scsi::kOpInquiry && opcode != scsi::kOpReportLuns && opcode != scsi::kOpRequestSense;
    if (pending != 0 && reportsAttention) {
        clearUnitAttention(request.nexus);
        checkCondition(reply, scsi::kKeyUnitAttention, pending);
        return BusResult::Completed;
    }
    switch (opcode) {
    case scsi::kOpTestUnitReady: break;
    case scsi::kOpRequestSense: requestSense(request, reply); break;
    case scsi::kOpInquiry: inquiry(request, reply); break;
    case scsi::kOpReadCapacity10: readCapacity10(request, reply); break;
    case scsi::kOpServiceActionIn16: readCapacity16(request, reply); break;
    case scsi::kOpReportLuns: reportLuns(request, reply); break;
    case scsi::kOpWriteBuffer:
        writeBuffer(request, reply);
        tellSender(request, reply, request.cdb[1] & 0x1F);
        break;
    default:
        invalidOpcode(reply);
        break;
    }
    return BusResult::Completed;
}

uint16_t ScsiDrive::pendingUnitAttention(uint32_t nexus) {
    auto [entry, inserted] = nexusGeneration_.try_emplace(nexus, microcodeGeneration_);
    if (!inserted && entry->second < microcodeGeneration_) return scsi::kAscMicrocodeChanged;
    // The sender ran the command that changed the microcode, without a reset.
    return senderAttention_.count(nexus) != 0 ? scsi::kAscMicrocodeChangedWithoutReset : 0;
}

void ScsiDrive::clearUnitAttention(uint32_t nexus) {
    nexusGeneration_[nexus] = microcodeGeneration_;
    senderAttention_.erase(nexus);
}

void ScsiDrive::tellSender(const ScsiRequest& request, const ScsiReply& reply, uint8_t mode) {
    bool activates = mode == scsi::kWbDownloadSave || mode == scsi::kWbOffsetsSaveActivate ||
                     mode == scsi::kWbActivateDeferred;
    if (unitAttentionToSender() && activates && reply.status == scsi::kStatusGood) {
        senderAttention_.insert(request.nexus);
    }
}

void ScsiDrive::microcodeChanged(uint32_t activator) {
    ++microcodeGeneration_;
    nexusGeneration_[activator] = microcodeGeneration_;
}

void ScsiDrive::inquiry(const ScsiRequest& request, ScsiReply& reply) {
    const auto& cdb = request.cdb;
    bool vitalProductData = cdb[1] & 0x01;
    if (cdb[1] & 0x02) return invalidFieldInCdb(reply, 1, 1);  // CMDDT is obsolete
    std::size_t allocation = static_cast<std::size_t>(cdb[3] << 8 | cdb[4]);
    if (!vitalProductData) {
        if (cdb[2] != 0) return invalidFieldInCdb(reply, 2);
        return returnData(request, reply, scsiStandardInquiry(description_, firmware_.revision), allocation);
    }
    std::vector<uint8_t> page = scsiVpdPage(description_, cdb[2]);
    if (page.empty()) return invalidFieldInCdb(reply, 2);
    returnData(request, reply, page, allocation);
}

void ScsiDrive::requestSense(const ScsiRequest& request, ScsiReply& reply) {
    if (request.cdb[1] & 0x01) return invalidFieldInCdb(reply, 1, 0);  // descriptor format is not offered
    FixedSense sense = fixedSense(scsi::kKeyNoSense, 0);
    if (uint16_t pending = pendingUnitAttention(request.nexus); pending != 0) {
        clearUnitAttention(request.nexus);
        sense = fixedSense(scsi::kKeyUnitAttention, pending);
    }
    returnData(request, reply, sense, request.cdb[4]);
}

void ScsiDrive::readCapacity10(const ScsiRequest& request, ScsiReply& reply) {
    std::vector<uint8_t> data(8);
    uint64_t lastBlock = description_.capacityBlocks - 1;
    putBe32(data, 0, static_cast<uint32_t>(std::min<uint64_t>(lastBlock, 0xFFFFFFFF)));
    putBe32(data, 4, 512);
    returnData(request, reply, data, data.size());
}

void ScsiDrive::readCapacity16(const ScsiRequest& request, ScsiReply& reply) {
    if ((request.cdb[1] & 0x1F) != scsi::kSaReadCapacity16) return invalidFieldInCdb(reply, 1, 4);
    std::vector<uint8_t> data(32);
    putBe64(data, 0, description_.capacityBlocks - 1);
    putBe32(data, 8, 512);
    returnData(request, reply, data, getBe32(request.cdb, 10));
}

void ScsiDrive::reportLuns(const ScsiRequest& request, ScsiReply& reply) {
    uint32_t allocation = getBe32(request.cdb, 6);
    if (allocation < 16) return invalidFieldInCdb(reply, 6);
    std::vector<uint8_t> data(16);
    putBe32(data, 0, 8);  // one logical unit, LUN 0
    returnData(request, reply, data, allocation);
}

void ScsiDrive::writeBuffer(const ScsiRequest& request, ScsiReply& reply) {
    const auto& cdb = request.cdb;
    uint8_t mode = cdb[1] & 0x1F;
    bool deferredMode = mode == scsi::kWbOffsetsDeferred || mode == scsi::kWbActivateDeferred;
    bool known = mode == scsi::kWbDownloadSave || mode == scsi::kWbOffsetsSaveActivate || deferredMode;
    if (!known || (deferredMode && !description_.deferredDownload)) return invalidFieldInCdb(reply, 1, 4);
    if (mode == scsi::kWbActivateDeferred) return activateDeferred(request, reply);
    if (cdb[2] != 0) return invalidFieldInCdb(reply, 2);  // only buffer 0 holds microcode
    uint32_t length = getBe24(cdb, 6);
    if (length == 0) return;  // no data, nothing to do
    if (description_.maxDownloadBlocks != 0 && length > description_.maxDownloadBlocks * 512u) {
        return invalidFieldInCdb(reply, 6);
    }
    if (request.direction != ScsiDataDirection::Out || request.data.size() < length) {
        return checkCondition(reply, scsi::kKeyAbortedCommand, scsi::kAscDataPhaseError);
    }
    writeBufferSegment(request, reply, mode);
}

void ScsiDrive::writeBufferSegment(const ScsiRequest& request, ScsiReply& reply, uint8_t mode) {
    uint32_t offset = getBe24(request.cdb, 3);
    uint32_t length = getBe24(request.cdb, 6);
    bool whole = mode == scsi::kWbDownloadSave;
    if (whole && offset != 0) return invalidFieldInCdb(reply, 3);  // mode 05h takes the image in one piece
    bool starts = offset == 0;
    if (injectDownloadFault(starts, starts ? 1 : download_.segments() + 1)) {
        download_.discard();
        return checkCondition(reply, scsi::kKeyHardwareError, scsi::kAscInternalTargetFailure);
    }
    reply.transferred = length;
    switch (download_.append(offset, request.data.first(length), mode)) {
    case SegmentedDownload::Outcome::Accepted: break;
    case SegmentedDownload::Outcome::OutOfOrder:
    case SegmentedDownload::Outcome::TooLarge: return invalidFieldInCdb(reply, 3);
    case SegmentedDownload::Outcome::ModeChanged: return invalidFieldInCdb(reply, 1, 4);
    case SegmentedDownload::Outcome::BadHeader:
        return checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInParameterList);
    }
    if (download_.complete()) return installImage(request, reply, mode == scsi::kWbOffsetsDeferred);
    if (whole) {
        download_.discard();
        checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInParameterList);
    }
}

void ScsiDrive::installImage(const ScsiRequest& request, ScsiReply& reply, bool deferred) {
    ImageVerdict verdict = checkImage(download_.bytes());
    download_.discard();
    if (verdict.problem != ImageProblem::None) {
        return checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInParameterList);
    }
    if (!installRevision(verdict.revision, deferred)) {
        return checkCondition(reply, scsi::kKeyHardwareError, scsi::kAscInternalTargetFailure);
    }
    if (!deferred) microcodeChanged(request.nexus);
}

void ScsiDrive::activateDeferred(const ScsiRequest& request, ScsiReply& reply) {
    if (injectActivationFault()) {
        return checkCondition(reply, scsi::kKeyHardwareError, scsi::kAscInternalTargetFailure);
    }
    if (firmware_.deferredRevision.empty()) {
        return checkCondition(reply, scsi::kKeyIllegalRequest, scsi::kAscCommandSequenceError);
    }
    if (!commitFirmware(applyPendingActivation(firmware_))) {
        return checkCondition(reply, scsi::kKeyHardwareError, scsi::kAscInternalTargetFailure);
    }
    microcodeChanged(request.nexus);
}

}  // namespace simdrive
