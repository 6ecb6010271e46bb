// The machines this bridge created, in creation order. Bounded: a bridge serves
// at most kCapacity machines at once.
#pragma once

#include <corvane.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace cvpl_local {

class MachineList {
public:
    static constexpr int32_t kCapacity = 4096;

    constexpr MachineList() = default;
    MachineList(const MachineList&) = delete;
    MachineList& operator=(const MachineList&) = delete;

    // Forgets every machine (the plug-in's load).
    void clear();
    // False when the list already holds kCapacity machines.
    bool add(CvUID machine);
    // Removes the machine, keeping the order of the others; nothing when unknown.
    void remove(CvUID machine);
    // The machines at this moment, oldest first.
    std::vector<CvUID> snapshot() const;

private:
    mutable std::mutex mutex_;
    int32_t count_ = 0;
    std::array<CvUID, kCapacity> machines_{};
};

}  // namespace cvpl_local
