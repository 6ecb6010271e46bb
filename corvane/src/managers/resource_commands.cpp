// The command path of resource services: execute, submit (with the pending
// counts that keep a service, its resource and the manager alive until the
// completion notice), abort, and the completion notice itself.
#include <corvane.h>

#include "managers/command_checks.h"
#include "managers/resource_registry.h"

using corvane::g_resources;

int CvResourceService_ExecuteCommand(CvUID resource, CvUID service, CvUID /*client*/, CvCommand* command,
                                     CvError* error)
{
    if (!corvane::CheckCommandBuffers(command, error)) return 0;
    auto held = g_resources->lock();
    const corvane::ServiceRef found = corvane::FindService(held, resource, service, error);
    if (found.service == nullptr) return 0;
    const CvServiceDescriptor& descriptor = found.service->descriptor;
    if (descriptor.execute == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Executing commands not supported");
    return g_resources->callOut(held, {&found.service->busy, &found.resource->busy}, {}, error,
                                [&] { return descriptor.execute(descriptor.userData, command, error); });
}

int CvResourceService_SubmitCommand(CvUID resource, CvUID service, CvUID /*client*/, CvCommand* command,
                                    CvCommandCompletion* completion, CvError* error)
{
    if (!corvane::CheckCommandBuffers(command, error)) return 0;
    if (completion == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Command completion is null");
    auto held = g_resources->lock();
    const corvane::ServiceRef found = corvane::FindService(held, resource, service, error);
    if (found.service == nullptr) return 0;
    const CvServiceDescriptor& descriptor = found.service->descriptor;
    if (descriptor.submit == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Submitting commands not supported");
    // An accepted command keeps the three pending counts raised until the
    // service's completion notice; a refused one takes them back at once.
    return g_resources->callOut(
        held, {&found.service->busy, &found.resource->busy},
        {&found.service->pending, &found.resource->pending, &g_resources->pending(held)}, error,
        [&] { return descriptor.submit(descriptor.userData, command, completion, error); });
}

int CvResourceService_AbortCommand(CvUID resource, CvUID service, CvUID /*client*/, uint32_t tag, CvError* error)
{
    auto held = g_resources->lock();
    const corvane::ServiceRef found = corvane::FindService(held, resource, service, error);
    if (found.service == nullptr) return 0;
    const CvServiceDescriptor& descriptor = found.service->descriptor;
    if (descriptor.abort == nullptr) return CvSetThreadError(error, CV_ERROR_FAILED, "Aborting commands not supported");
    return g_resources->callOut(held, {&found.service->busy, &found.resource->busy}, {}, error,
                                [&] { return descriptor.abort(descriptor.userData, tag, error); });
}

void CvResourceService_NotifyCommandCompleted(CvUID resource, CvUID service)
{
    auto held = g_resources->lock();
    corvane::ResourceEntry* owner = g_resources->findForNotice(held, resource);
    if (owner == nullptr) return;
    corvane::ResourceServiceEntry* entry = owner->services.find(service);
    if (entry == nullptr) {
        CvLog(CV_LOG_ERROR, "Resource service with UID %d:%d was not found when doing command complete notify",
              static_cast<int>(resource), static_cast<int>(service));
        return;
    }
    if (entry->busy < 0) {
        CvLog(CV_LOG_ERROR, "Resource service with UID %d:%d is being disposed when doing command complete notify",
              static_cast<int>(resource), static_cast<int>(service));
        return;
    }
    // A notice without an outstanding command would drive the counts below 0,
    // and disposal, which waits for 0, would then wait forever.
    if (entry->pending <= 0) {
        CvLog(CV_LOG_ERROR,
              "Resource service with UID %d:%d has no submitted command outstanding when doing command complete "
              "notify",
              static_cast<int>(resource), static_cast<int>(service));
        return;
    }
    --entry->pending;
    --owner->pending;
    --g_resources->pending(held);
}
