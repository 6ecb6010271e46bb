#include "framework_calls.h"

#include <cvcrt/runtime.h>

namespace firmstep {
namespace {

void SleepMilliseconds(std::uint32_t milliseconds)
{
    CrtSleepMili(milliseconds);
}

constexpr FrameworkCalls kRealFramework = {
    CvMachine_GetResourceList,
    CvResourceProxy_GetServiceList,
    CvResourceServiceProxy_GetInfo,
    CvResourceServiceProxy_ExecuteCommand,
    SleepMilliseconds,
};

FrameworkCalls g_calls = kRealFramework;

}  // namespace

const FrameworkCalls& Framework()
{
    return g_calls;
}

ScopedFrameworkCalls::ScopedFrameworkCalls(const FrameworkCalls& calls) : previous_(g_calls)
{
    g_calls = calls;
}

ScopedFrameworkCalls::~ScopedFrameworkCalls()
{
    g_calls = previous_;
}

}  // namespace firmstep
