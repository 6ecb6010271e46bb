// Sleeps counted in 100-ns units. One call sleeps at most INT32_MAX units (about
// 214 s): the unit count has always been a signed 32-bit value, and a request
// beyond it sleeps the maximum instead of wrapping to an arbitrary duration.
#include <errno.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdint>

#include "cvcrt/runtime.h"

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;  // 100-ns units

// count x unitsPerCount + extraUnits, clamped to 0 ... INT32_MAX. The count is
// bounded first so that the 64-bit arithmetic cannot overflow.
int32_t Units(int64_t count, int64_t unitsPerCount, int64_t extraUnits = 0) {
    const int64_t bounded = std::clamp<int64_t>(count, -INT32_MAX, INT32_MAX);
    const int64_t extra = std::clamp<int64_t>(extraUnits, -INT64_MAX / 4, INT64_MAX / 4);
    return static_cast<int32_t>(std::clamp<int64_t>(bounded * unitsPerCount + extra, 0, INT32_MAX));
}

void SleepUnits(int32_t units) {
    if (units <= 0) {
        sched_yield();
        return;
    }
    timespec remaining{units / kUnitsPerSecond, static_cast<long>(units % kUnitsPerSecond) * 100};
    // Relative sleep on the monotonic clock; a signal resumes it with what is left.
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &remaining, &remaining) == EINTR) {
    }
}

}  // namespace

void CrtSleep(int64_t seconds, int64_t nanoseconds) {
    SleepUnits(Units(seconds, kUnitsPerSecond, nanoseconds / 100));
}

void CrtSleepMili(int64_t milliseconds) { SleepUnits(Units(milliseconds, 10000)); }

void CrtSleepMicro(int64_t microseconds) { SleepUnits(Units(microseconds, 10)); }

void CrtSleepNano(int64_t nanoseconds) { SleepUnits(Units(nanoseconds / 100, 1)); }
