#include "transfer_limit.h"

#include "framework_calls.h"

#include <device_contracts.h>

namespace firmstep {
namespace {

// Reads the ability count; false when the query fails.
bool ReadAbilityCount(CvUID machine, AccessPath path, std::int32_t& count, CvError& error)
{
    count = 0;
    CvCommand command{};
    command.function = DEVICE_FUNCTION_GET_ABILITY_COUNT;
    command.tag = 0;
    command.buffers[0] = &count;
    command.bufferLengths[0] = DEVICE_ABILITY_COUNT_SIZE;
    return Framework().executeCommand(machine, path.resource, path.service, &command, &error) != 0;
}

// Reads ability `index` into `ability` (of `size` bytes).
bool ReadAbility(CvUID machine, AccessPath path, std::int32_t index, void* ability, std::uint32_t size,
                 CvError& error)
{
    CvCommand command{};
    command.function = DEVICE_FUNCTION_GET_ABILITY;
    command.tag = 0;
    command.buffers[0] = &index;
    command.bufferLengths[0] = DEVICE_ABILITY_INDEX_SIZE;
    command.buffers[1] = ability;
    command.bufferLengths[1] = size;
    return Framework().executeCommand(machine, path.resource, path.service, &command, &error) != 0;
}

bool IsAtaDataOutAbility(std::uint8_t identifier)
{
    return identifier == 3 || identifier == 5 || identifier == 7 || identifier == 9;
}

}  // namespace

std::uint32_t AtaTransferLimit(CvUID machine, AccessPath path, CvError& error)
{
    std::int32_t count = 0;
    if (!ReadAbilityCount(machine, path, count, error))
        return 0;
    std::uint32_t limit = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        AtaAbility ability{};
        if (!ReadAbility(machine, path, i, &ability, sizeof ability, error))
            break;
        if (IsAtaDataOutAbility(ability.identifier))
            limit = ability.maxTransferBytes;
    }
    return limit;
}

std::uint32_t ScsiTransferLimit(CvUID machine, AccessPath path, CvError& error)
{
    std::int32_t count = 0;
    if (!ReadAbilityCount(machine, path, count, error))
        return 0;
    std::uint32_t limit = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        ScsiAbility ability{};
        if (!ReadAbility(machine, path, i, &ability, sizeof ability, error))
            break;
        if (ability.kind == SCSI_DIRECTION_OUT)
            limit = ability.maxTransferBytes;
    }
    return limit;
}

}  // namespace firmstep
