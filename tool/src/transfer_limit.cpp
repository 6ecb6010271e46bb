#include "transfer_limit.h"

#include "framework_calls.h"

#include <device_contracts.h>

namespace firmstep {
namespace {

// Reads the ability count; false when the query fails.
bool ReadAbilityCount(CvUID machine, AccessPath path, std::int32_t& count, CvError& error)
{
    count = 0;
    return ExecuteOnService(machine, path, DEVICE_FUNCTION_GET_ABILITY_COUNT, 0, &count, DEVICE_ABILITY_COUNT_SIZE,
                            nullptr, 0, error) != 0;
}

// The largest transfer of the last of `count` abilities that `carriesData`
// accepts; a failing ability query ends the walk with what was found so far.
template <typename Ability, typename CarriesData>
std::uint32_t WalkAbilities(CvUID machine, AccessPath path, std::int32_t count, CarriesData carriesData,
                            CvError& error)
{
    std::uint32_t limit = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t index = i;  // the service may write its buffers; the loop keeps its own count
        Ability ability{};
        if (!ExecuteOnService(machine, path, DEVICE_FUNCTION_GET_ABILITY, 0, &index, DEVICE_ABILITY_INDEX_SIZE,
                              &ability, sizeof ability, error))
            break;
        if (carriesData(ability))
            limit = ability.maxTransferBytes;
    }
    return limit;
}

// Walks the abilities of the service: the largest transfer of the last one
// `carriesData` accepts. A failing ability query ends the walk with what was
// found so far; a failing count query gives 0.
template <typename Ability, typename CarriesData>
std::uint32_t LastDataAbilityLimit(CvUID machine, AccessPath path, CarriesData carriesData, CvError& error)
{
    std::int32_t count = 0;
    if (!ReadAbilityCount(machine, path, count, error))
        return 0;
    return WalkAbilities<Ability>(machine, path, count, carriesData, error);
}

}  // namespace

std::uint32_t AtaTransferLimit(CvUID machine, AccessPath path, CvError& error)
{
    return LastDataAbilityLimit<AtaAbility>(
        machine, path,
        [](const AtaAbility& ability) {
            return ability.identifier == 3 || ability.identifier == 5 || ability.identifier == 7 ||
                   ability.identifier == 9;
        },
        error);
}

std::uint32_t ScsiTransferLimit(CvUID machine, AccessPath path, CvError& error)
{
    return LastDataAbilityLimit<ScsiAbility>(
        machine, path, [](const ScsiAbility& ability) { return ability.kind == SCSI_DIRECTION_OUT; }, error);
}

std::uint32_t NvmeTransferLimit(CvUID machine, AccessPath path, CvError& error)
{
    std::int32_t count = 0;
    if (!ReadAbilityCount(machine, path, count, error) || count <= 0) {
        CvSetNoError(&error);
        return NVME_DEFAULT_MAX_TRANSFER;
    }
    return WalkAbilities<NvmeAbility>(
        machine, path, count, [](const NvmeAbility& ability) { return ability.kind == NVME_ABILITY_DATA_OUT; },
        error);
}

}  // namespace firmstep
