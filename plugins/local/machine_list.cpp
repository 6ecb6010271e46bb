#include "machine_list.h"

#include <algorithm>

namespace cvpl_local {

void MachineList::clear()
{
    std::lock_guard lock(mutex_);
    count_ = 0;
}

bool MachineList::add(CvUID machine)
{
    std::lock_guard lock(mutex_);
    if (count_ >= kCapacity) return false;
    machines_[static_cast<std::size_t>(count_++)] = machine;
    return true;
}

void MachineList::remove(CvUID machine)
{
    std::lock_guard lock(mutex_);
    const auto end = machines_.begin() + count_;
    const auto found = std::find(machines_.begin(), end, machine);
    if (found == end) return;
    std::copy(found + 1, end, found);
    --count_;
}

std::vector<CvUID> MachineList::snapshot() const
{
    std::lock_guard lock(mutex_);
    return std::vector<CvUID>(machines_.begin(), machines_.begin() + count_);
}

}  // namespace cvpl_local
