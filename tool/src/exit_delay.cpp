#include "exit_delay.h"

#include <chrono>
#include <limits>
#include <thread>

namespace firmstep {

std::uint32_t ExitDelayMilliseconds(std::int32_t seconds)
{
    if (seconds <= 0)
        return 0;
    constexpr std::int64_t kLargest = std::numeric_limits<std::uint32_t>::max();
    const std::int64_t milliseconds = std::int64_t{seconds} * 1000;
    return static_cast<std::uint32_t>(milliseconds > kLargest ? kLargest : milliseconds);
}

void WaitExitDelay(std::int32_t seconds)
{
    const std::uint32_t milliseconds = ExitDelayMilliseconds(seconds);
    if (milliseconds != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace firmstep
