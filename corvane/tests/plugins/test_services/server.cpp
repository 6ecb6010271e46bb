// The test plug-in's server: counts starts, keeps the last settings, has no clients.
#include <corvane.h>

#include <cstring>

#include "plugin_state.h"

namespace test_services {
namespace {

int Start(void*, StringMap* settings, CvError* error)
{
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    ++state.serverStarts;
    state.lastServerSettings.clear();
    const int32_t size = settings != nullptr ? StringMap_GetSize(settings) : 0;
    for (int32_t i = 0; i < size; ++i)
        state.lastServerSettings.emplace_back(StringMap_GetEntryKey(settings, i), StringMap_GetEntryValue(settings, i));
    return CvSetNoThreadError(error);
}

int Stop(void*, CvError* error) { return CvSetNoThreadError(error); }

int GetClientList(void*, CvUIDList* list, CvError* error)
{
    if (list != nullptr) list->count = 0;
    return CvSetNoThreadError(error);
}

int GetClientInfo(void*, CvUID client, void*, CvError* error)
{
    return CvSetThreadError(error, CV_ERROR_NOT_FOUND, "Client with UID %d was not found", static_cast<int>(client));
}

int Dispose(void*, CvError* error)
{
    State().note("dispose server " + State().serverProtocol);
    return CvSetNoThreadError(error);
}

}  // namespace

CvServerDescriptor MakeServerDescriptor(const std::string& name, const std::string& protocol)
{
    CvServerDescriptor descriptor{};
    std::strncpy(descriptor.info.name, name.c_str(), sizeof descriptor.info.name - 1);
    std::strncpy(descriptor.info.description, "Serves nothing; for tests", sizeof descriptor.info.description - 1);
    std::strncpy(descriptor.info.protocol, protocol.c_str(), sizeof descriptor.info.protocol - 1);
    descriptor.start = Start;
    descriptor.stop = Stop;
    descriptor.getClientList = GetClientList;
    descriptor.getClientInfo = GetClientInfo;
    descriptor.dispose = Dispose;
    return descriptor;
}

}  // namespace test_services
