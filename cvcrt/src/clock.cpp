// Tick counter (CLOCK_MONOTONIC in nanoseconds) and wall-clock time.
#include <time.h>

#include "cvcrt/runtime.h"

namespace {

constexpr uint64_t kNanosecondsPerSecond = 1000000000ULL;

}  // namespace

uint64_t Ticks(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t TicksPerSecond(void) { return kNanosecondsPerSecond; }

// A start after the end is taken as a counter that wrapped; the extra -1 is how
// elapsed time across a wrap has always been counted here.
uint64_t TicksElapsed(uint64_t start, uint64_t end) { return end >= start ? end - start : end - start - 1; }

void CrtSystemTime(CrtTime* time) {
    if (!time) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time->seconds = static_cast<int64_t>(now.tv_sec);
    time->microseconds = static_cast<int64_t>(now.tv_nsec / 1000);
}
