// Load and unload entry points of the test plug-in, its settings and its test
// hooks. See test_services.h for what a test can ask of it.
#include <corvane.h>

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "plugin_state.h"
#include "test_services.h"

namespace test_services {

PluginState& State()
{
    static PluginState state;
    return state;
}

namespace {

std::string Setting(const StringMap* settings, const char* key, const char* defaultValue)
{
    const char* value = settings != nullptr ? StringMap_GetValue(settings, key) : nullptr;
    return value != nullptr ? value : defaultValue;
}

// "a, b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(std::string_view text)
{
    std::vector<std::string> items;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (!item.empty()) items.emplace_back(item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return items;
}

ServiceKind KindOf(const std::string& type)
{
    if (type == "test/async") return ServiceKind::Async;
    if (type == "test/gate") return ServiceKind::Gate;
    return ServiceKind::Plain;
}

void ResourceRegistered(void* userData, CvUID resource) { static_cast<ResourceState*>(userData)->uid = resource; }

int ResourceDispose(void* userData, CvError* error)
{
    State().note("dispose resource " + static_cast<ResourceState*>(userData)->name);
    return CvSetNoThreadError(error);
}

ServiceState& AddService(const std::string& type, const std::string& resourceName, CvUID resource)
{
    auto service = std::make_unique<ServiceState>();
    service->kind = KindOf(type);
    service->type = type;
    service->resourceName = resourceName;
    service->resource = resource;
    State().services.push_back(std::move(service));
    return *State().services.back();
}

bool RegisterResources(const StringMap* settings, CvError* error)
{
    PluginState& state = State();
    const std::string typeName = Setting(settings, "ResourceType", "test/resource");
    const std::vector<std::string> serviceTypes = SplitList(Setting(settings, "Services", "test/echo"));
    for (const std::string& name : SplitList(Setting(settings, "Resources", "test:0"))) {
        auto resource = std::make_unique<ResourceState>();
        resource->name = name;
        CvResourceDescriptor descriptor{};
        std::strncpy(descriptor.info.name, name.c_str(), sizeof descriptor.info.name - 1);
        std::snprintf(descriptor.info.description, sizeof descriptor.info.description, "Test resource %s",
                      name.c_str());
        std::strncpy(descriptor.typeInfo.typeName, typeName.c_str(), sizeof descriptor.typeInfo.typeName - 1);
        descriptor.typeInfo.typeData = CvStrDup(name.c_str());
        descriptor.userData = resource.get();
        descriptor.registered = ResourceRegistered;
        descriptor.dispose = ResourceDispose;
        CvUID uid = CV_UID_NONE;
        if (CvResourceManager_Register(&descriptor, &uid, error) == 0) return false;
        state.resources.push_back(std::move(resource));
        for (const std::string& type : serviceTypes) {
            const CvServiceDescriptor service = MakeServiceDescriptor(AddService(type, name, uid));
            CvUID serviceUid = CV_UID_NONE;
            if (CvResource_RegisterService(uid, &service, &serviceUid, error) == 0) return false;
        }
    }
    return true;
}

bool RegisterMachineServices(const StringMap* settings, CvError* error)
{
    for (const std::string& type : SplitList(Setting(settings, "MachineServices", ""))) {
        const CvServiceDescriptor service = MakeServiceDescriptor(AddService(type, "", CV_UID_NONE));
        CvUID uid = CV_UID_NONE;
        if (CvMachineServiceManager_Register(&service, &uid, error) == 0) return false;
        State().machineServices.push_back(uid);
    }
    return true;
}

bool RegisterServer(const StringMap* settings, CvError* error)
{
    PluginState& state = State();
    state.serverProtocol = Setting(settings, "ServerProtocol", "");
    if (state.serverProtocol.empty()) return true;
    const CvServerDescriptor server =
        MakeServerDescriptor(Setting(settings, "ServerName", "Test Server"), state.serverProtocol);
    return CvServerManager_Register(&server, &state.server, error) != 0;
}

// Lets everything in flight finish, so that unregistering (which waits for
// running and submitted commands) cannot wait for the test.
void ReleaseEverything()
{
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    state.gateOpen = true;
    for (SubmittedCommand& held : state.submitted) held.released = true;
    state.changed.notify_all();
}

void StopWorker()
{
    PluginState& state = State();
    {
        std::lock_guard lock(state.mutex);
        state.stopping = true;
        state.changed.notify_all();
    }
    if (state.worker.joinable()) state.worker.join();
}

// Unregisters whatever is registered; the first failure is kept in error.
// Things a test already removed itself (not found) are no failure.
int UnregisterAll(CvError* error)
{
    PluginState& state = State();
    ReleaseEverything();
    int result = 1;
    CvError failure;
    const auto keep = [&](int ok) {
        if (ok == 0 && failure.code != CV_ERROR_NOT_FOUND && result != 0) {
            result = 0;
            if (error != nullptr) *error = failure;
        }
    };
    if (state.server != CV_UID_NONE) keep(CvServerManager_Unregister(state.server, &failure));
    for (CvUID service : state.machineServices) keep(CvMachineServiceManager_Unregister(service, &failure));
    for (const auto& resource : state.resources) keep(CvResourceManager_Unregister(resource->uid, &failure));
    StopWorker();
    state.server = CV_UID_NONE;
    state.machineServices.clear();
    state.resources.clear();
    state.services.clear();
    return result;
}

void Reset(const StringMap* settings)
{
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    state.gateOpen = false;
    state.gateEntered = 0;
    state.holdSubmitted = Setting(settings, "AsyncCompletion", "immediate") == "held";
    state.stopping = false;
    state.submitted.clear();
    state.journal.clear();
    state.serverStarts = 0;
    state.lastServerSettings.clear();
}

int Load(CvUID, const StringMap* settings, CvError* error)
{
    Reset(settings);
    State().worker = std::thread(WorkerLoop);
    if (RegisterResources(settings, error) && RegisterMachineServices(settings, error) &&
        RegisterServer(settings, error))
        return CvSetNoThreadError(error);
    UnregisterAll(nullptr);  // the error stays the one that stopped the load
    return 0;
}

int Unload(CvError* error)
{
    if (UnregisterAll(error) == 0) return 0;
    return CvSetNoThreadError(error);
}

}  // namespace
}  // namespace test_services

CV_DEFINE_PLUGIN("Test Services Plugin", "Resources, services and a server for tests", "1.0.0.0",
                 "For tests only", "firmstep", "tests@localhost", test_services::Load, test_services::Unload);

using test_services::State;

CV_PLUGIN_EXPORT void cvTestServices_OpenGate(void)
{
    std::lock_guard lock(State().mutex);
    State().gateOpen = true;
    State().changed.notify_all();
}

CV_PLUGIN_EXPORT void cvTestServices_WaitGateEntered(int32_t count)
{
    std::unique_lock lock(State().mutex);
    State().changed.wait(lock, [&] { return State().gateEntered >= count; });
}

CV_PLUGIN_EXPORT void cvTestServices_WaitHeld(int32_t count)
{
    std::unique_lock lock(State().mutex);
    State().changed.wait(lock, [&] { return static_cast<int32_t>(State().submitted.size()) >= count; });
}

CV_PLUGIN_EXPORT void cvTestServices_CompleteHeld(void)
{
    std::lock_guard lock(State().mutex);
    for (auto& held : State().submitted) held.released = true;
    State().changed.notify_all();
}

CV_PLUGIN_EXPORT int32_t cvTestServices_ServerStartCount(void)
{
    std::lock_guard lock(State().mutex);
    return State().serverStarts;
}

CV_PLUGIN_EXPORT int32_t cvTestServices_ServerSetting(const char* key, char* value, int32_t size)
{
    std::lock_guard lock(State().mutex);
    for (const auto& [name, text] : State().lastServerSettings) {
        if (strcasecmp(name.c_str(), key) != 0) continue;
        if (value != nullptr && size > 0) std::snprintf(value, static_cast<std::size_t>(size), "%s", text.c_str());
        return 1;
    }
    return 0;
}

CV_PLUGIN_EXPORT int32_t cvTestServices_GetJournal(char* text, int32_t size)
{
    std::lock_guard lock(State().mutex);
    const std::string& journal = State().journal;
    if (text != nullptr && size > 0) std::snprintf(text, static_cast<std::size_t>(size), "%s", journal.c_str());
    return static_cast<int32_t>(journal.size());
}
