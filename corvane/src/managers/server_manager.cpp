// Server manager: servers that make this process's machine reachable from
// elsewhere. The manager only keeps the entries; whether a server runs is the
// server's own state.
#include <corvane.h>

#include <memory>

#include "core/never_destroyed.h"
#include "managers/fixed_text.h"
#include "registry/registry.h"

namespace {

using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kServerMessages = {
    "Server manager is uninitialized",
    "Server with UID %d was not found",
    "Server with UID %d is being disposed",
    "Error while disposing of server server (%d:'%s') while unitializing the server server manager: %s",
};

struct ServerEntry : RegistryEntry {
    CvServerDescriptor descriptor{};
};

constinit NeverDestroyed<Registry<ServerEntry>> g_registry{kServerMessages};

// A server that leaves one of its functions out does not support that call.
int NotSupported(CvUID server, CvError* error)
{
    return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED, "Server with UID %d does not support this call",
                            static_cast<int>(server));
}

}  // namespace

void CvServerManager_Initialize(void) { g_registry->initialize(); }

int CvServerManager_Uninitialize(CvError* error)
{
    return g_registry->uninitialize(error, [](ServerEntry& entry) {
        g_registry->disposeOrLog(entry, entry.descriptor.info.name,
                                 [&](CvError* e) { return corvane::CallDispose(entry.descriptor, e); });
    });
}

int CvServerManager_GetServerList(CvUIDList* list, CvError* error) { return g_registry->list(list, error); }

int CvServerManager_LookupServer(const char* protocol, CvUID* server, CvError* error)
{
    // Case matters here, unlike the matching of bridges to URLs.
    return g_registry->lookup(server, error, [protocol](const ServerEntry& entry) {
        return corvane::FieldEquals(entry.descriptor.info.protocol, protocol);
    });
}

int CvServerManager_Register(const CvServerDescriptor* descriptor, CvUID* server, CvError* error)
{
    if (server != nullptr) *server = CV_UID_NONE;
    if (descriptor == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Server descriptor is null");
    auto entry = std::make_unique<ServerEntry>();
    entry->descriptor = *descriptor;
    corvane::TerminateField(entry->descriptor.info.name);
    corvane::TerminateField(entry->descriptor.info.description);
    corvane::TerminateField(entry->descriptor.info.protocol);
    const CvUID uid = g_registry->add(std::move(entry), error);
    if (uid == CV_UID_NONE) return 0;
    if (server != nullptr) *server = uid;
    return 1;
}

int CvServerManager_Unregister(CvUID server, CvError* error)
{
    std::unique_ptr<ServerEntry> removed = g_registry->unregister(
        server, error, [](ServerEntry& entry, CvError* err) { return corvane::CallDispose(entry.descriptor, err); });
    if (!removed) return 0;
    return CvSetNoThreadError(error);
}

int CvServer_GetInfo(CvUID server, CvServerInfo* info, CvError* error)
{
    return g_registry->copyInfo(server, info, sizeof *info, error,
                                [](const ServerEntry& entry) { return &entry.descriptor.info; });
}

int CvServer_Start(CvUID server, StringMap* settings, CvError* error)
{
    return g_registry->call(server, error, [&](ServerEntry& entry) {
        const CvServerDescriptor& d = entry.descriptor;
        return d.start != nullptr ? d.start(d.userData, settings, error) : NotSupported(server, error);
    });
}

int CvServer_Stop(CvUID server, CvError* error)
{
    return g_registry->call(server, error, [&](ServerEntry& entry) {
        const CvServerDescriptor& d = entry.descriptor;
        return d.stop != nullptr ? d.stop(d.userData, error) : NotSupported(server, error);
    });
}

int CvServer_GetClientList(CvUID server, CvUIDList* list, CvError* error)
{
    return g_registry->call(server, error, [&](ServerEntry& entry) {
        const CvServerDescriptor& d = entry.descriptor;
        return d.getClientList != nullptr ? d.getClientList(d.userData, list, error) : NotSupported(server, error);
    });
}

int CvServerClient_GetInfo(CvUID server, CvUID client, void* clientInfo, CvError* error)
{
    return g_registry->call(server, error, [&](ServerEntry& entry) {
        const CvServerDescriptor& d = entry.descriptor;
        return d.getClientInfo != nullptr ? d.getClientInfo(d.userData, client, clientInfo, error)
                                          : NotSupported(server, error);
    });
}
