#include "transfer_limit.h"

#include "framework_calls.h"

#include <device_contracts.h>

namespace firmstep {
namespace {

// Reads the ability count; false when the query fails.
bool ReadAbilityCount(CvUID machine, AccessPath path, std::int32_t& count, CvError& error)
{
    count = 0;
    return ExecuteOnService(machine, path.resource, path.service, DEVICE_FUNCTION_GET_ABILITY_COUNT, 0, &count,
                            DEVICE_ABILITY_COUNT_SIZE, nullptr, 0, error) != 0;
}

// Reads ability `index` into `ability` (of `size` bytes).
bool ReadAbility(CvUID machine, AccessPath path, std::int32_t index, void* ability, std::uint32_t size,
                 CvError& error)
{
    return ExecuteOnService(machine, path.resource, path.service, DEVICE_FUNCTION_GET_ABILITY, 0, &index,
                            DEVICE_ABILITY_INDEX_SIZE, ability, size, error) != 0;
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
