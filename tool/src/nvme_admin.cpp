#include "nvme_admin.h"

#include "framework_calls.h"

#include <atomic>
#include <climits>

namespace firmstep {
namespace {

std::atomic<std::int32_t> g_nextCommandNumber{0};

// Command specific statuses of Firmware Commit (status code type 1) that
// report a committed image waiting for a reset.
constexpr int kStatusTypeAndCodeMask = 0x7FF;  // without the retry and more bits
constexpr int kRequiresConventionalReset = 0x10B;
constexpr int kRequiresNvmSubsystemReset = 0x110;
constexpr int kRequiresControllerLevelReset = 0x111;

}  // namespace

std::uint32_t NextNvmeCommandNumber()
{
    std::int32_t current = g_nextCommandNumber.load();
    std::int32_t next;
    do {
        next = current == INT32_MAX ? 0 : current + 1;
    } while (!g_nextCommandNumber.compare_exchange_weak(current, next));
    return static_cast<std::uint32_t>(current);
}

void SetNvmeCommandNumber(std::int32_t next)
{
    g_nextCommandNumber.store(next < 0 ? 0 : next);
}

int ExecuteNvmeAdmin(CvUID machine, AccessPath path, NvmeCommandBlock& block, void* data,
                     std::uint32_t dataLength, CvError& error)
{
    return ExecuteOnService(machine, path, NVME_DEVICE_FUNCTION_ADMIN_COMMAND, NextNvmeCommandNumber(), &block,
                            sizeof block, data, dataLength, error);
}

bool NvmeCompletionFailed(const NvmeCommandBlock& block)
{
    return NvmeCompletion_Failed(&block.completion) != 0;
}

int NvmeStatusCode(const NvmeCommandBlock& block)
{
    return block.completion.statusField >> 1;
}

ActivationReset CommitActivationReset(const NvmeCommandBlock& block)
{
    switch (NvmeStatusCode(block) & kStatusTypeAndCodeMask) {
    case kRequiresConventionalReset:
        return ActivationReset::Conventional;
    case kRequiresNvmSubsystemReset:
        return ActivationReset::NvmSubsystem;
    case kRequiresControllerLevelReset:
        return ActivationReset::ControllerLevel;
    default:
        return ActivationReset::None;
    }
}

const char* ActivationResetText(ActivationReset reset)
{
    switch (reset) {
    case ActivationReset::Conventional:
        return "a conventional reset";
    case ActivationReset::NvmSubsystem:
        return "an NVM subsystem reset";
    case ActivationReset::ControllerLevel:
        return "a controller level reset";
    case ActivationReset::None:
        break;
    }
    return "no reset";
}

}  // namespace firmstep
