// The machines the remote machine bridge created, in creation order; at most
// kCapacity at once.
#pragma once

#include <corvane.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace cvpl_tcpip {

class MachineList {
public:
    static constexpr std::size_t kCapacity = 4096;

    void clear()
    {
        std::lock_guard lock(mutex_);
        machines_.clear();
    }
    // False when the list is full.
    bool add(CvUID machine)
    {
        std::lock_guard lock(mutex_);
        if (machines_.size() >= kCapacity) return false;
        machines_.push_back(machine);
        return true;
    }
    void remove(CvUID machine)
    {
        std::lock_guard lock(mutex_);
        std::erase(machines_, machine);
    }
    std::vector<CvUID> snapshot() const
    {
        std::lock_guard lock(mutex_);
        return machines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<CvUID> machines_;
};

}  // namespace cvpl_tcpip
