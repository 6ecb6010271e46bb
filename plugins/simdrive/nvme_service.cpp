// "nvme/device" on a simulated NVMe controller: function 1 issues the
// submission entry of an NvmeCommandBlock as an admin command and fills its
// completion entry; function 7 resets the controller.
#include <cstring>
#include <span>

#include "device_unit.h"
#include "simdrive/nvme_drive.h"

namespace cvpl_simdrive {

namespace {

int adminCommand(simdrive::NvmeDrive& drive, CvCommand* command, CvError* error) {
    auto* block = static_cast<NvmeCommandBlock*>(command->buffers[0]);
    const NvmeSubmissionEntry& entry = block->submission;
    simdrive::NvmeAdminCommand admin;
    admin.opcode = entry.opcode;
    admin.namespaceId = entry.namespaceId;
    admin.cdw10 = entry.cdw10;
    admin.cdw11 = entry.cdw11;
    admin.cdw12 = entry.cdw12;
    admin.cdw13 = entry.cdw13;
    admin.cdw14 = entry.cdw14;
    admin.cdw15 = entry.cdw15;
    std::span<uint8_t> data;
    if (command->buffers[1] != nullptr) {
        data = std::span(static_cast<uint8_t*>(command->buffers[1]), command->bufferLengths[1]);
    }
    simdrive::NvmeCompletion completion;
    if (drive.submitAdmin(admin, data, completion) == simdrive::BusResult::DeviceGone) {
        return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    }
    // The admin queue's completion: queue 0, the command's identifier, phase tag set.
    NvmeCompletionEntry& done = block->completion;
    std::memset(&done, 0, sizeof done);
    done.result = completion.result;
    done.commandId = entry.commandId;
    done.statusField = completion.statusField(true);
    return CvSetNoError(error);
}

}  // namespace

int executeNvmeCommand(DeviceUnit& unit, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&unit.rules, command, 0, error)) return 0;
    auto& drive = static_cast<simdrive::NvmeDrive&>(*unit.drive);
    if (command->function == NVME_DEVICE_FUNCTION_ADMIN_COMMAND) return adminCommand(drive, command, error);
    if (command->function != NVME_DEVICE_FUNCTION_CONTROLLER_RESET) {
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
    if (drive.resetController() == simdrive::BusResult::DeviceGone) {
        return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    }
    return CvSetNoError(error);
}

}  // namespace cvpl_simdrive
