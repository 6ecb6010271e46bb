#include "client_spy.h"

#include <dlfcn.h>

#include <mutex>

namespace cvpl_local_test {
namespace {

std::mutex g_mutex;
std::vector<ClientCall> g_calls;
std::function<void()> g_beforeRemoval;

void Note(const char* function, CvUID client)
{
    std::lock_guard lock(g_mutex);
    g_calls.push_back({function, client});
}

// The framework's definition of the function this program replaces.
template <class Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

std::vector<ClientCall> ClientCalls()
{
    std::lock_guard lock(g_mutex);
    return g_calls;
}

void ClearClientCalls()
{
    std::lock_guard lock(g_mutex);
    g_calls.clear();
}

void BeforeNextHotplugListenerRemoval(std::function<void()> hook)
{
    std::lock_guard lock(g_mutex);
    g_beforeRemoval = std::move(hook);
}

}  // namespace cvpl_local_test

using cvpl_local_test::Next;
using cvpl_local_test::Note;

int CvResourceService_ExecuteCommand(CvUID resource, CvUID service, CvUID client, CvCommand* command, CvError* error)
{
    static const auto next = Next<decltype(&CvResourceService_ExecuteCommand)>("CvResourceService_ExecuteCommand");
    Note("resource execute", client);
    return next(resource, service, client, command, error);
}

int CvResourceService_SubmitCommand(CvUID resource, CvUID service, CvUID client, CvCommand* command,
                                    CvCommandCompletion* completion, CvError* error)
{
    static const auto next = Next<decltype(&CvResourceService_SubmitCommand)>("CvResourceService_SubmitCommand");
    Note("resource submit", client);
    return next(resource, service, client, command, completion, error);
}

int CvResourceService_AbortCommand(CvUID resource, CvUID service, CvUID client, uint32_t tag, CvError* error)
{
    static const auto next = Next<decltype(&CvResourceService_AbortCommand)>("CvResourceService_AbortCommand");
    Note("resource abort", client);
    return next(resource, service, client, tag, error);
}

int CvMachineService_ExecuteCommand(CvUID service, CvUID client, CvCommand* command, CvError* error)
{
    static const auto next = Next<decltype(&CvMachineService_ExecuteCommand)>("CvMachineService_ExecuteCommand");
    Note("machine execute", client);
    return next(service, client, command, error);
}

int CvMachineService_AbortCommand(CvUID service, CvUID client, uint32_t tag, CvError* error)
{
    static const auto next = Next<decltype(&CvMachineService_AbortCommand)>("CvMachineService_AbortCommand");
    Note("machine abort", client);
    return next(service, client, tag, error);
}

void CvHotplugEventManager_RemoveListener(CvHotplugListener* listener)
{
    static const auto next = Next<decltype(&CvHotplugEventManager_RemoveListener)>("CvHotplugEventManager_RemoveListener");
    std::function<void()> hook;
    {
        std::lock_guard lock(cvpl_local_test::g_mutex);
        hook.swap(cvpl_local_test::g_beforeRemoval);
    }
    if (hook) hook();
    next(listener);
}
