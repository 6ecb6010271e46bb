// Bridge manager: the bridges that plug-ins register, one per URL protocol, and
// the search for the bridge that fills a new machine's function table.
#include <corvane.h>

#include <cstring>
#include <string>
#include <string_view>

#include "core/never_destroyed.h"
#include "managers/fixed_text.h"
#include "registry/registry.h"

namespace {

using corvane::FixedText;
using corvane::FixedView;
using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kBridgeMessages = {
    "Bridge manager is uninitialized",
    "Bridge with UID %d was not found",
    "Bridge with UID %d is being disposed",
    "Error while disposing of bridge (%d:'%s') while unitializing the bridge manager: %s",
};

struct BridgeEntry : RegistryEntry {
    CvBridgeDescriptor descriptor;
};

constinit NeverDestroyed<Registry<BridgeEntry>> g_registry{kBridgeMessages};

// The longest protocol a URL yields (the text before its first colon).
constexpr int kProtocolSize = 256;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Protocols match whatever their ASCII case, and whatever the locale.
bool ProtocolMatches(const BridgeEntry& bridge, std::string_view protocol)
{
    const std::string_view handled = FixedView(bridge.descriptor.info.protocol);
    if (handled.size() != protocol.size()) return false;
    for (std::size_t i = 0; i < handled.size(); ++i)
        if (AsciiLower(handled[i]) != AsciiLower(protocol[i])) return false;
    return true;
}

int DisposeBridge(BridgeEntry& bridge, CvError* error) { return corvane::CallDispose(bridge.descriptor, error); }

void LogRemoved(const BridgeEntry& bridge)
{
    CvLog(CV_LOG_INFO, "Bridge removed - BridgeID=%d BridgeProtocol='%s'", static_cast<int>(bridge.uid),
          FixedText(bridge.descriptor.info.protocol).c_str());
}

}  // namespace

void CvBridgeManager_Initialize(void) { g_registry->initialize(); }

int CvBridgeManager_Uninitialize(CvError* error)
{
    return g_registry->uninitialize(error, [](BridgeEntry& bridge) {
        g_registry->disposeOrLog(bridge, FixedText(bridge.descriptor.info.name).c_str(),
                                 [&](CvError* disposeError) { return DisposeBridge(bridge, disposeError); });
        LogRemoved(bridge);
    });
}

int CvBridgeManager_GetBridgeList(CvUIDList* list, CvError* error) { return g_registry->list(list, error); }

int CvBridgeManager_Register(const CvBridgeDescriptor* descriptor, CvUID* bridge, CvError* error)
{
    if (bridge != nullptr) *bridge = CV_UID_NONE;
    if (descriptor == nullptr) return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Bridge descriptor is null");
    auto entry = std::make_unique<BridgeEntry>();
    entry->descriptor = *descriptor;
    const CvUID uid = g_registry->add(std::move(entry), error);
    if (uid == CV_UID_NONE) return 0;
    if (bridge != nullptr) *bridge = uid;
    CvLog(CV_LOG_INFO, "Bridge added - BridgeID=%d BridgeProtocol='%s'", static_cast<int>(uid),
          FixedText(descriptor->info.protocol).c_str());
    return 1;
}

int CvBridgeManager_Unregister(CvUID bridge, CvError* error)
{
    const auto removed = g_registry->unregister(bridge, error, DisposeBridge);
    if (!removed) return 0;
    LogRemoved(*removed);
    return CvSetNoThreadError(error);
}

int CvBridgeManager_InitializeMachineDescriptor(CvUID machine, CvMachineDescriptor* descriptor, CvError* error)
{
    if (descriptor == nullptr)
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Machine descriptor is null");
    // The URL field is terminated by the machine manager; a caller that filled it
    // itself gets the same treatment.
    const std::string url = FixedText(descriptor->url);
    char protocol[kProtocolSize];
    if (CvUtil_URLExtractProtocol(url.c_str(), protocol, sizeof protocol) == 0)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to extract protocol field from machine URL: '%s'",
                                url.c_str());
    const std::string_view wanted = protocol;

    auto held = g_registry->lock();
    if (!g_registry->requireInitialized(held, error)) return 0;
    // A bridge being unregistered never receives new machines.
    BridgeEntry* bridge = g_registry->entries(held).findFirst(
        [&](const BridgeEntry& entry) { return entry.busy >= 0 && ProtocolMatches(entry, wanted); });
    if (bridge == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to find bridge that can handle the protocol '%s'",
                                protocol);
    const CvBridgeDescriptor& found = bridge->descriptor;
    if (found.initializeMachineDescriptor == nullptr)
        return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED, "Bridge with UID %d cannot create machines",
                                static_cast<int>(bridge->uid));
    return g_registry->callOut(held, {&bridge->busy}, {}, error, [&] {
        return found.initializeMachineDescriptor(found.userData, machine, descriptor, error);
    });
}

int CvBridge_GetInfo(CvUID bridge, CvBridgeInfo* info, CvError* error)
{
    return g_registry->copyInfo(bridge, info, sizeof *info, error,
                                [](const BridgeEntry& entry) { return &entry.descriptor.info; });
}
