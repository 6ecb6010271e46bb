#include "framework_calls.h"

#include <device_contracts.h>
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

int ExecuteOnService(CvUID machine, AccessPath path, std::uint8_t function, std::uint32_t tag, void* block,
                     std::uint32_t blockLength, void* data, std::uint32_t dataLength, CvError& error)
{
    CvCommand command{};
    command.function = function;
    command.tag = tag;
    command.buffers[0] = block;
    command.bufferLengths[0] = blockLength;
    command.buffers[1] = data;
    command.bufferLengths[1] = dataLength;
    return g_calls.executeCommand(machine, path.resource, path.service, &command, &error);
}

int ExecuteDeviceCommand(CvUID machine, AccessPath path, void* block, std::uint32_t blockLength, void* data,
                         std::uint32_t dataLength, CvError& error)
{
    return ExecuteOnService(machine, path, DEVICE_FUNCTION_DO_COMMAND, CV_COMMAND_TAG_NONE, block, blockLength, data,
                            dataLength, error);
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
