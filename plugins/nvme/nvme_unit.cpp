// "nvme/device" through NVME_IOCTL_ADMIN_CMD and NVME_IOCTL_RESET.
#include "nvme_unit.h"

#include <linux/nvme_ioctl.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "kernel_io/kernel_io.h"

namespace nvme_plugin {

namespace {
using passthrough::writeBlock;

// Path related status values (type 3) that the kernel posts itself when it
// abandons a command: the controller never answered it.
constexpr uint32_t kStatusCodeMask = 0x7FF;
constexpr uint32_t kHostPathingError = 0x370;
constexpr uint32_t kCommandAbortedByHost = 0x371;

// The time-out field in whole milliseconds; 0 lets the kernel apply its own
// admin time-out.
uint32_t timeoutMs(uint64_t timeoutNs) {
    uint64_t ms = timeoutNs / 1000000ull;
    return ms > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(ms);
}
}  // namespace

int issueAdminCommand(int fd, const NvmeSubmissionEntry& submission, uint64_t timeoutNs, void* data,
                      uint32_t length, NvmeCompletionEntry& completion) {
    nvme_passthru_cmd request{};
    request.opcode = submission.opcode;
    request.flags = submission.flags;
    request.nsid = submission.namespaceId;
    request.cdw2 = submission.cdw2;
    request.cdw3 = submission.cdw3;
    request.cdw10 = submission.cdw10;
    request.cdw11 = submission.cdw11;
    request.cdw12 = submission.cdw12;
    request.cdw13 = submission.cdw13;
    request.cdw14 = submission.cdw14;
    request.cdw15 = submission.cdw15;
    request.addr = reinterpret_cast<uintptr_t>(data);
    request.data_len = length;
    request.timeout_ms = timeoutMs(timeoutNs);
    errno = 0;
    int rc = KernelIo_NvmeAdmin(fd, &request);
    if (rc < 0) return errno != 0 ? errno : EIO;
    const uint32_t code = static_cast<uint32_t>(rc) & kStatusCodeMask;
    if (code == kHostPathingError || code == kCommandAbortedByHost) return EIO;
    completion = NvmeCompletionEntry{};
    completion.result = request.result;
    // The kernel returns the status field without the phase tag; the entry
    // carries it shifted back with the tag set, as the controller posted it.
    completion.statusField = static_cast<uint16_t>((static_cast<uint32_t>(rc) & 0x7FFFu) << 1 | NVME_PHASE_TAG);
    return 0;
}

NvmeUnit::NvmeUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
                   std::shared_ptr<passthrough::OpenDisk> controller)
    : DiskUnit(plugin, resource, std::move(path), std::move(controller)) {
    DeviceContract_InitRules(&rules_, DEVICE_CONTRACT_NVME);
    abilities_[0].kind = NVME_ABILITY_DATA_IN;
    abilities_[1].kind = NVME_ABILITY_DATA_OUT;
    for (NvmeAbility& ability : abilities_) ability.maxTransferBytes = NVME_DEFAULT_MAX_TRANSFER;
}

int NvmeUnit::execute(CvCommand* command, CvError* error) {
    const auto count = static_cast<int32_t>(abilities_.size());
    if (!DeviceContract_CheckCommand(&rules_, command, count, error)) return 0;
    switch (command->function) {
    case NVME_DEVICE_FUNCTION_ADMIN_COMMAND:
        return adminCommand(command, error);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        writeBlock(command, count);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY:
        return copyAbility(command, abilities_, error);
    default:
        return resetController(error);
    }
}

int NvmeUnit::adminCommand(CvCommand* command, CvError* error) {
    auto* block = static_cast<NvmeCommandBlock*>(command->buffers[0]);
    std::memset(&block->completion, 0, sizeof block->completion);
    Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    NvmeCompletionEntry completion{};
    int failure = issueAdminCommand(unit.disk->fd(), block->submission, block->timeout, command->buffers[1],
                                    command->bufferLengths[1], completion);
    if (failure != 0) return CvSetError(error, CV_ERROR_FAILED, "NVMe admin command failed: %d", failure);
    completion.commandId = static_cast<uint16_t>(command->tag);
    block->completion = completion;
    return CvSetNoError(error);
}

int NvmeUnit::resetController(CvError* error) {
    Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    if (KernelIo_NvmeReset(unit.disk->fd()) < 0) {
        return CvSetError(error, CV_ERROR_FAILED, "NVMe controller reset failed: %d", errno);
    }
    return CvSetNoError(error);
}

}  // namespace nvme_plugin
