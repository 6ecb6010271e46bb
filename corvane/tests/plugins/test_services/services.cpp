// The services of the test plug-in: plain, gated and asynchronous ones, all
// sharing one small command set.
#include <corvane.h>

#include <algorithm>
#include <cstring>

#include "plugin_state.h"
#include "test_services.h"

namespace test_services {
namespace {

int RunCommand(CvCommand* command, CvError* error)
{
    switch (command->function) {
    case TEST_FUNCTION_NOTHING:
        command->result = 0;
        return CvSetNoThreadError(error);
    case TEST_FUNCTION_ECHO: {
        const uint32_t length = std::min(command->bufferLengths[0], command->bufferLengths[1]);
        if (length != 0) std::memmove(command->buffers[1], command->buffers[0], length);
        command->result = TEST_ECHO_RESULT;
        return CvSetNoThreadError(error);
    }
    case TEST_FUNCTION_FAIL:
        return CvSetThreadError(error, CV_ERROR_FAILED, "Test failure requested");
    default:
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
}

void WaitAtGate()
{
    PluginState& state = State();
    std::unique_lock lock(state.mutex);
    ++state.gateEntered;
    state.changed.notify_all();
    state.changed.wait(lock, [&] { return state.gateOpen; });
}

void Registered(void* userData, CvUID service) { static_cast<ServiceState*>(userData)->service = service; }

int Execute(void* userData, CvCommand* command, CvError* error)
{
    if (static_cast<ServiceState*>(userData)->kind == ServiceKind::Gate) WaitAtGate();
    return RunCommand(command, error);
}

int Submit(void* userData, CvCommand* command, CvCommandCompletion* completion, CvError* error)
{
    auto* service = static_cast<ServiceState*>(userData);
    if (service->kind != ServiceKind::Async)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Submitting commands not supported");
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    state.submitted.push_back({service, command, completion});
    state.changed.notify_all();
    return CvSetNoThreadError(error);
}

int Abort(void* userData, uint32_t tag, CvError* error)
{
    auto* service = static_cast<ServiceState*>(userData);
    if (service->kind != ServiceKind::Async)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Aborting commands not supported");
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    for (SubmittedCommand& held : state.submitted) {
        if (held.service == service && held.command->tag == tag && !held.aborted) {
            held.aborted = true;
            state.changed.notify_all();
            return CvSetNoThreadError(error);
        }
    }
    return CvSetThreadError(error, CV_ERROR_NOT_FOUND, "No submitted command with tag %u", tag);
}

int Dispose(void* userData, CvError* error)
{
    auto* service = static_cast<ServiceState*>(userData);
    if (service->resource == CV_UID_NONE)
        State().note("dispose machine service " + service->type);
    else
        State().note("dispose service " + service->resourceName + " " + service->type);
    return CvSetNoThreadError(error);
}

// Completes one command outside the plug-in's lock: outcome, completion
// function, then the framework's notice, in that order.
void Complete(const SubmittedCommand& done)
{
    CvCommandCompletion* completion = done.completion;
    if (done.aborted)
        CvSetThreadError(&completion->error, CV_ERROR_FAILED, "Command with tag %u was aborted", done.command->tag);
    else
        RunCommand(done.command, &completion->error);
    State().note("complete " + done.service->type + " tag=" + std::to_string(done.command->tag) +
                 " code=" + std::to_string(completion->error.code));
    if (completion->complete != nullptr) completion->complete(completion, done.command);
    if (done.service->resource == CV_UID_NONE)
        CvMachineService_NotifyCommandCompleted(done.service->service);
    else
        CvResourceService_NotifyCommandCompleted(done.service->resource, done.service->service);
}

}  // namespace

CvServiceDescriptor MakeServiceDescriptor(ServiceState& service)
{
    CvServiceDescriptor descriptor{};
    std::strncpy(descriptor.info.type, service.type.c_str(), sizeof descriptor.info.type - 1);
    descriptor.userData = &service;
    descriptor.registered = Registered;
    descriptor.execute = Execute;
    descriptor.submit = Submit;
    descriptor.abort = Abort;
    descriptor.dispose = Dispose;
    return descriptor;
}

void WorkerLoop()
{
    PluginState& state = State();
    std::unique_lock lock(state.mutex);
    for (;;) {
        const auto ready = [&](const SubmittedCommand& c) { return !state.holdSubmitted || c.released || c.aborted; };
        state.changed.wait(lock, [&] {
            return state.stopping || std::any_of(state.submitted.begin(), state.submitted.end(), ready);
        });
        const auto next = std::find_if(state.submitted.begin(), state.submitted.end(), ready);
        if (next == state.submitted.end()) return;  // stopping, nothing left to complete
        const SubmittedCommand done = *next;
        state.submitted.erase(next);
        lock.unlock();
        Complete(done);
        lock.lock();
    }
}

}  // namespace test_services
