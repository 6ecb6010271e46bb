// A simulated NVMe controller at the admin-command level.
#include "simdrive/nvme_drive.h"

#include <algorithm>

#include "byte_order.h"

namespace simdrive {

namespace {

constexpr std::size_t kFirmwareSlotLogSize = 512;
constexpr std::size_t kMaxActiveNamespaceEntries = 1024;

NvmeCompletion failed(uint8_t sct, uint8_t sc, bool doNotRetry = true) {
    NvmeCompletion completion;
    completion.status = nvme::status(sct, sc, doNotRetry);
    return completion;
}

void copyOut(std::span<const uint8_t> payload, std::span<uint8_t> data) {
    std::copy_n(payload.begin(), std::min(payload.size(), data.size()), data.begin());
}

}  // namespace

NvmeDrive::NvmeDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store)
    : SimDrive(std::move(description), std::move(store)) {}

BusResult NvmeDrive::submitAdmin(const NvmeAdminCommand& command, std::span<uint8_t> data,
                                 NvmeCompletion& completion) {
    std::lock_guard lock(mutex_);
    completion = NvmeCompletion{};
    if (!admitCommand()) return BusResult::DeviceGone;
    bool firmwareCommand =
        command.opcode == nvme::kOpFirmwareCommit || command.opcode == nvme::kOpFirmwareImageDownload;
    if (firmwareCommand && !description_.firmwareUpdate) {
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidOpcode);
        return BusResult::Completed;
    }
    switch (command.opcode) {
    case nvme::kOpIdentify: identify(command, data, completion); break;
    case nvme::kOpGetLogPage: getLogPage(command, data, completion); break;
    case nvme::kOpFirmwareImageDownload: imageDownload(command, data, completion); break;
    case nvme::kOpFirmwareCommit: commit(command, completion); break;
    default: completion = failed(nvme::kSctGeneric, nvme::kScInvalidOpcode); break;
    }
    return BusResult::Completed;
}

BusResult NvmeDrive::resetController() {
    std::lock_guard lock(mutex_);
    if (!admitCommand()) return BusResult::DeviceGone;
    resetFirmware();
    return BusResult::Completed;
}

void NvmeDrive::identify(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion) {
    uint8_t cns = static_cast<uint8_t>(command.cdw10);
    uint32_t nsid = command.namespaceId;
    switch (cns) {
    case nvme::kCnsController:
        copyOut(nvmeIdentifyController(description_, firmware_), data);
        break;
    case nvme::kCnsNamespace:
        if (nsid == 0 || nsid > description_.namespaces) {
            completion = failed(nvme::kSctGeneric, nvme::kScInvalidNamespace);
            return;
        }
        copyOut(nvmeIdentifyNamespace(description_), data);
        break;
    case nvme::kCnsActiveNamespaces: {
        if (nsid >= 0xFFFFFFFE) {
            completion = failed(nvme::kSctGeneric, nvme::kScInvalidNamespace);
            return;
        }
        std::array<uint8_t, nvme::kIdentifySize> list{};
        std::size_t entries = 0;
        for (uint32_t id = nsid + 1; id <= description_.namespaces && entries < kMaxActiveNamespaceEntries; ++id) {
            putLe32(list, 4 * entries++, id);
        }
        copyOut(list, data);
        break;
    }
    default:
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidField);
        break;
    }
}

void NvmeDrive::getLogPage(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion) {
    uint8_t logId = static_cast<uint8_t>(command.cdw10);
    uint64_t dwords = ((uint64_t{command.cdw11} & 0xFFFF) << 16 | command.cdw10 >> 16) + 1;
    if (command.cdw12 != 0 || command.cdw13 != 0) {  // offsets into the page are not offered
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidField);
        return;
    }
    if (logId != nvme::kLogFirmwareSlot) {
        completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidLogPage);
        return;
    }
    std::array<uint8_t, kFirmwareSlotLogSize> page{};
    // Active slot in bits 2:0, the slot of the next reset in bits 6:4.
    page[0] = static_cast<uint8_t>(firmware_.activeSlot | firmware_.nextSlot << 4);
    for (std::size_t i = 0; i < firmware_.slots.size(); ++i) {
        const std::string& revision = firmware_.slots[i];
        std::copy(revision.begin(), revision.end(), page.begin() + 8 + 8 * static_cast<std::ptrdiff_t>(i));
    }
    copyOut(std::span(page).first(std::min<std::size_t>(page.size(), dwords * 4)), data);
}

void NvmeDrive::imageDownload(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion) {
    uint64_t bytes = (uint64_t{command.cdw10} + 1) * 4;
    uint64_t offset = uint64_t{command.cdw11} * 4;
    bool aligned = true;
    if (description_.fwug != 0 && description_.fwug != 0xFF) {
        uint64_t granularity = uint64_t{description_.fwug} * 4096;
        aligned = bytes % granularity == 0 && offset % granularity == 0;
    }
    if (data.size() < bytes || !aligned) {
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidField);
        return;
    }
    bool starts = offset == 0;
    if (injectDownloadFault(starts, starts ? 1 : download_.portions() + 1)) {
        download_.discard();
        completion = failed(nvme::kSctGeneric, nvme::kScInternalError, false);
        return;
    }
    if (!download_.add(static_cast<std::size_t>(offset), data.first(static_cast<std::size_t>(bytes)))) {
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidField);
    }
}

int NvmeDrive::chooseSlot() const {
    int slots = static_cast<int>(firmware_.slots.size());
    auto writable = [&](int slot) { return !(slot == 1 && description_.slot1ReadOnly); };
    for (int slot = 1; slot <= slots; ++slot) {
        if (slot != firmware_.activeSlot && writable(slot)) return slot;
    }
    return writable(firmware_.activeSlot) ? firmware_.activeSlot : 0;
}

void NvmeDrive::commit(const NvmeAdminCommand& command, NvmeCompletion& completion) {
    int slot = static_cast<int>(command.cdw10 & 0x7);
    unsigned action = command.cdw10 >> 3 & 0x7;
    bool bootPartition = command.cdw10 >> 31;
    int slots = static_cast<int>(firmware_.slots.size());
    if (bootPartition || action > 3) {
        completion = failed(nvme::kSctGeneric, nvme::kScInvalidField);
        return;
    }
    if (slot > slots) {
        completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareSlot);
        return;
    }
    if (injectActivationFault()) {
        completion = failed(nvme::kSctGeneric, nvme::kScInternalError, false);
        return;
    }
    FirmwareState next = firmware_;
    if (action == 2) {
        // Activate what a slot already holds at the next reset.
        if (slot == 0) {
            completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareSlot);
            return;
        }
        if (firmware_.slots[static_cast<std::size_t>(slot - 1)].empty()) {
            completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareImage);
            return;
        }
        next.nextSlot = slot;
    } else {
        if (slot == 0) slot = chooseSlot();
        if (slot == 0 || (slot == 1 && description_.slot1ReadOnly)) {
            completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareSlot);
            return;
        }
        std::vector<uint8_t> image;
        PortionDownload::Assembly assembly = download_.assemble(image);
        download_.discard();
        if (assembly == PortionDownload::Assembly::Overlap) {
            completion = failed(nvme::kSctCommandSpecific, nvme::kScOverlappingRange);
            return;
        }
        ImageVerdict verdict = checkImage(image);
        if (assembly != PortionDownload::Assembly::Complete || verdict.problem != ImageProblem::None) {
            completion = failed(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareImage);
            return;
        }
        next.slots[static_cast<std::size_t>(slot - 1)] = verdict.revision;
        if (action == 1) {
            next.nextSlot = slot;
        } else if (action == 3) {
            if (description_.activateWithoutReset) {
                next.activeSlot = slot;
                next.nextSlot = 0;
                next.revision = verdict.revision;
            } else {
                // Committed, but this controller runs new firmware only after a reset.
                next.nextSlot = slot;
                completion = failed(nvme::kSctCommandSpecific, description_.activationResetStatus, false);
            }
        }
    }
    if (!commitFirmware(next)) completion = failed(nvme::kSctGeneric, nvme::kScInternalError, false);
}

}  // namespace simdrive
