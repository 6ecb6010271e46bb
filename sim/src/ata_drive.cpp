// A simulated ATA drive at the taskfile level.
#include "simdrive/ata_drive.h"

#include "byte_order.h"

namespace simdrive {

AtaDrive::AtaDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store)
    : SimDrive(std::move(description), std::move(store)) {}

BusResult AtaDrive::execute(const AtaRequest& request, AtaReply& reply) {
    std::lock_guard lock(mutex_);
    reply = AtaReply{};
    if (!admitCommand()) return BusResult::DeviceGone;
    reply.registers.device = request.registers.device;
    reply.registers.status = ata::kStatusGood;
    bool nonData = request.phase == AtaDataPhase::None;
    switch (request.registers.command) {
    case ata::kCmdIdentifyDevice:
        identifyDevice(request, reply);
        break;
    case ata::kCmdDownloadMicrocode:
    case ata::kCmdDownloadMicrocodeDma:
        downloadMicrocode(request, reply);
        break;
    case ata::kCmdCheckPowerMode:
        if (nonData) {
            reply.registers.count = 0xFF;  // active or idle
        } else {
            abort(reply);
        }
        break;
    case ata::kCmdFlushCache:
    case ata::kCmdFlushCacheExt:
        if (!nonData) abort(reply);
        break;
    default:
        // NOP, IDENTIFY PACKET DEVICE and everything not implemented end in ABRT.
        abort(reply);
        break;
    }
    return BusResult::Completed;
}

void AtaDrive::abort(AtaReply& reply) {
    reply.registers.status = ata::kStatusError;
    reply.registers.error = ata::kErrorAbort;
    reply.registers.count = 0;
    reply.registers.lbaLow = reply.registers.lbaMid = reply.registers.lbaHigh = 0;
}

void AtaDrive::identifyDevice(const AtaRequest& request, AtaReply& reply) {
    if (request.phase != AtaDataPhase::PioIn || request.data.size() < ata::kBlockSize) return abort(reply);
    auto words = ataIdentifyWords(description_, firmware_.revision);
    for (std::size_t i = 0; i < words.size(); ++i) putLe16(request.data, 2 * i, words[i]);
    reply.transferred = ata::kBlockSize;
}

void AtaDrive::downloadMicrocode(const AtaRequest& request, AtaReply& reply) {
    bool dmaCommand = request.registers.command == ata::kCmdDownloadMicrocodeDma;
    if (dmaCommand && (!description_.dma || refuseDma())) return abort(reply);
    switch (request.registers.features) {
    case ata::kDmOffsetsSaveActivate:
        return downloadSegment(request, reply, ata::kDmOffsetsSaveActivate);
    case ata::kDmOffsetsDeferred:
        if (!description_.deferredDownload) return abort(reply);
        return downloadSegment(request, reply, ata::kDmOffsetsDeferred);
    case ata::kDmSaveActivate:
        return downloadWhole(request, reply);
    case ata::kDmActivate:
        if (!description_.deferredDownload || request.phase != AtaDataPhase::None) return abort(reply);
        return activateDeferred(reply);
    default:
        return abort(reply);
    }
}

namespace {

AtaDataPhase downloadPhase(const AtaRequest& request) {
    return request.registers.command == ata::kCmdDownloadMicrocodeDma ? AtaDataPhase::DmaOut : AtaDataPhase::PioOut;
}

// Block count: count register low, LBA low high. Buffer offset: LBA mid low, LBA high high.
uint32_t blockCount(const AtaInputs& r) {
    return static_cast<uint32_t>(r.count | r.lbaLow << 8);
}
uint32_t blockOffset(const AtaInputs& r) {
    return static_cast<uint32_t>(r.lbaMid | r.lbaHigh << 8);
}

}  // namespace

void AtaDrive::downloadSegment(const AtaRequest& request, AtaReply& reply, uint8_t subcommand) {
    auto refuse = [&] {
        download_.discard();
        abort(reply);
    };
    uint32_t blocks = blockCount(request.registers);
    uint32_t offset = blockOffset(request.registers);
    std::size_t bytes = std::size_t{blocks} * ata::kBlockSize;
    if (request.phase != downloadPhase(request) || blocks == 0 || request.data.size() < bytes) return refuse();
    if (description_.maxDownloadBlocks != 0 && blocks > description_.maxDownloadBlocks) return refuse();
    bool starts = offset == 0;
    if (injectDownloadFault(starts, starts ? 1 : download_.segments() + 1)) return refuse();
    reply.transferred = static_cast<uint32_t>(bytes);
    if (download_.append(std::size_t{offset} * ata::kBlockSize, request.data.first(bytes), subcommand) !=
        SegmentedDownload::Outcome::Accepted) {
        return refuse();
    }
    if (!download_.complete()) {
        // Only the segment that ends the image may be shorter than the minimum.
        if (blocks < description_.minDownloadBlocks) return refuse();
        reply.registers.count = ata::kDmExpectingMore;
        return;
    }
    installImage(reply, subcommand == ata::kDmOffsetsDeferred);
}

void AtaDrive::downloadWhole(const AtaRequest& request, AtaReply& reply) {
    uint32_t blocks = blockCount(request.registers);
    std::size_t bytes = std::size_t{blocks} * ata::kBlockSize;
    if (request.phase != downloadPhase(request) || blocks == 0 || request.data.size() < bytes ||
        injectDownloadFault(true, 1)) {
        download_.discard();
        return abort(reply);
    }
    reply.transferred = static_cast<uint32_t>(bytes);
    // The whole image comes in this one command.
    if (download_.append(0, request.data.first(bytes), ata::kDmSaveActivate) != SegmentedDownload::Outcome::Accepted ||
        !download_.complete()) {
        download_.discard();
        return abort(reply);
    }
    installImage(reply, false);
}

void AtaDrive::installImage(AtaReply& reply, bool deferred) {
    ImageVerdict verdict = checkImage(download_.bytes());
    download_.discard();
    if (verdict.problem != ImageProblem::None || !installRevision(verdict.revision, deferred)) return abort(reply);
    reply.registers.count = deferred ? ata::kDmSavedDeferred : ata::kDmApplied;
}

void AtaDrive::activateDeferred(AtaReply& reply) {
    if (injectActivationFault() || firmware_.deferredRevision.empty()) return abort(reply);
    FirmwareState next = applyPendingActivation(firmware_);
    if (!commitFirmware(next)) return abort(reply);
    reply.registers.count = ata::kDmApplied;
}

}  // namespace simdrive
