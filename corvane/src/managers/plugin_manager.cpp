// Plug-in manager: loads plug-in libraries, checks the four exports every
// plug-in must have, runs their load and unload entry points and keeps them
// until they are unloaded.
#include <corvane.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/never_destroyed.h"
#include "managers/fixed_text.h"
#include "plugin_search_path.h"
#include "registry/registry.h"

namespace {

using corvane::DisposalTarget;
using corvane::NeverDestroyed;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;

constexpr RegistryMessages kPluginMessages = {
    "Plugin manager is uninitialized",
    "Plugin with UID %d was not found",
    "Plugin with UID %d is being disposed",
    "Error while disposing of plugin (%d:'%s') while unitializing the plugin manager: %s",
};

// The normalised file name is formed in this many bytes (so at most 255 characters).
constexpr std::size_t kFileNameBufferSize = 256;

struct PluginEntry : RegistryEntry {
    char fileName[kFileNameBufferSize + 1] = {};  // normalised: "cvpl-local.so"
    void* library = nullptr;                      // from LibraryLoad
    CvPluginDescriptor descriptor{};              // copy; name, description, version terminated
};

using Lock = Registry<PluginEntry>::Lock;

constinit NeverDestroyed<Registry<PluginEntry>> g_registry{kPluginMessages};

// File names of plug-ins whose load entry point is running (they are not in the
// table yet). Guarded by the registry's mutex. A second load of the same file
// meanwhile is refused like one of a loaded plug-in: the library is the same
// mapping, and running its load entry point twice would register everything twice.
constinit NeverDestroyed<std::vector<std::string>> g_loading;

bool IsLoadedOrLoading(Lock& held, const char* fileName)
{
    const bool loaded = g_registry->entries(held).findFirst([fileName](const PluginEntry& entry) {
        return std::strncmp(entry.fileName, fileName, kFileNameBufferSize) == 0;
    }) != nullptr;
    return loaded || std::find(g_loading->begin(), g_loading->end(), fileName) != g_loading->end();
}

// First candidate file that loads; null when none does.
void* OpenLibrary(const char* fileName)
{
    for (const std::string& path :
         corvane::PluginFileCandidates(fileName, std::getenv(corvane::kPluginPathVariable),
                                       corvane::CorvaneLibraryDirectory()))
        if (void* library = LibraryLoad(path.c_str())) return library;
    return nullptr;
}

// Checks the exports in their fixed order and copies the descriptor; 1, or 0
// with the refusal (code 2).
int CheckExports(void* library, const char* fileName, CvPluginDescriptor* descriptor, CvError* error)
{
    const auto* architecture =
        static_cast<const uint8_t*>(LibraryFindSymbol(library, CV_PLUGIN_CPU_ARCHITECTURE_SYMBOL));
    if (architecture == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': could not get its CPU architecture details", fileName);
    if (*architecture != CV_PLUGIN_CPU_ARCHITECTURE)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': it was built for a different CPU architecture", fileName);

    const auto* abi = static_cast<const uint8_t*>(LibraryFindSymbol(library, CV_PLUGIN_ABI_SYMBOL));
    if (abi == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': could not get its binary interface details", fileName);
    if (*abi != CV_PLUGIN_ABI)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': it is not binary compatible (built for a different ABI)",
                                fileName);

    const void* compatibilitySymbol = LibraryFindSymbol(library, CV_PLUGIN_COMPATIBILITY_VERSION_SYMBOL);
    if (compatibilitySymbol == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': could not get its plugin compatibility number", fileName);
    int32_t compatibility = 0;
    std::memcpy(&compatibility, compatibilitySymbol, sizeof compatibility);
    if (compatibility != CV_PLUGIN_COMPATIBILITY_VERSION)
        return CvSetThreadError(error, CV_ERROR_FAILED,
                                "Couldn't load plugin '%s': it is not API compatible (we are %d and the plugin is "
                                "built for %d)",
                                fileName, CV_PLUGIN_COMPATIBILITY_VERSION, static_cast<int>(compatibility));

    const void* descriptorSymbol = LibraryFindSymbol(library, CV_PLUGIN_DESCRIPTOR_SYMBOL);
    if (descriptorSymbol == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Couldn't load plugin '%s': Could not find plugin descriptor",
                                fileName);
    std::memcpy(descriptor, descriptorSymbol, sizeof *descriptor);
    // Only these three are shown or compared by the framework; they must end.
    corvane::TerminateField(descriptor->info.name);
    corvane::TerminateField(descriptor->info.description);
    corvane::TerminateField(descriptor->info.version);
    return CvSetNoThreadError(error);
}

int CallUnloadEntryPoint(const PluginEntry& entry, CvError* error)
{
    CvSetNoThreadError(error);
    return entry.descriptor.unload != nullptr ? entry.descriptor.unload(error) : 1;
}

void LogUnloaded(CvUID uid, const char* name)
{
    CvLog(CV_LOG_INFO, "Plugin unloaded - PluginID=%d PluginName='%s'", static_cast<int>(uid), name);
}

}  // namespace

void CvPluginManager_Initialize(void) { g_registry->initialize(); }

int CvPluginManager_Uninitialize(CvError* error)
{
    // First loaded, first unloaded; a plug-in that refuses is unloaded anyway.
    return g_registry->uninitialize(error, [](PluginEntry& entry) {
        g_registry->disposeOrLog(entry, entry.descriptor.info.name,
                                 [&entry](CvError* err) { return CallUnloadEntryPoint(entry, err); });
        LibraryUnload(entry.library);
        LogUnloaded(entry.uid, entry.descriptor.info.name);
    });
}

int CvPluginManager_GetPluginList(CvUIDList* list, CvError* error) { return g_registry->list(list, error); }

int CvPlugin_GetInfo(CvUID uid, CvPluginInfo* info, CvError* error)
{
    return g_registry->copyInfo(uid, info, sizeof(CvPluginInfo), error,
                                [](const PluginEntry& entry) { return &entry.descriptor.info; });
}

int CvPluginManager_Load(const char* name, const StringMap* settings, CvUID* uid, CvError* error)
{
    if (uid != nullptr) *uid = CV_UID_NONE;
    // The mutex stays held while the library is mapped and its exports checked.
    Lock held = g_registry->lock();
    if (!g_registry->requireInitialized(held, error)) return 0;

    auto entry = std::make_unique<PluginEntry>();
    LibraryNormalizeName(name, entry->fileName, kFileNameBufferSize);
    const char* fileName = entry->fileName;
    if (IsLoadedOrLoading(held, fileName)) return CvSetThreadError(error, CV_ERROR_FAILED, "Plugin already loaded");

    entry->library = OpenLibrary(fileName);
    if (entry->library == nullptr)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Couldn't open plugin '%s'", fileName);
    if (CheckExports(entry->library, fileName, &entry->descriptor, error) == 0) {
        LibraryUnload(entry->library);
        return 0;
    }
    entry->uid = CvNextUID();
    entry->busy = 0;

    // The entry stays private to this call while the plug-in loads: it cannot be
    // listed or unloaded yet, and shut-down waits for the call to finish.
    g_loading->emplace_back(fileName);
    const CvPluginLoadFunction load = entry->descriptor.load;
    const CvUID newUid = entry->uid;
    const int loaded = g_registry->callOut(held, {}, {}, error,
                                           [&] { return load != nullptr ? load(newUid, settings, error) : 1; });
    g_loading->erase(std::find(g_loading->begin(), g_loading->end(), fileName));
    if (loaded == 0) {
        // The plug-in has undone its registrations; its error goes back unchanged.
        LibraryUnload(entry->library);
        return 0;
    }

    char pluginName[CV_PLUGIN_NAME_SIZE];
    std::memcpy(pluginName, entry->descriptor.info.name, sizeof pluginName);
    g_registry->entries(held).insert(std::move(entry));
    if (uid != nullptr) *uid = newUid;
    held.unlock();
    CvLog(CV_LOG_INFO, "Plugin loaded - PluginID=%d PluginName='%s'", static_cast<int>(newUid), pluginName);
    return CvSetNoThreadError(error);
}

int CvPluginManager_Unload(CvUID uid, CvError* error)
{
    const std::unique_ptr<PluginEntry> unloaded = g_registry->disposeWhenIdle(
        error,
        [uid](Lock& held, CvError* err) { return DisposalTarget<PluginEntry>{g_registry->find(held, uid, err), {}}; },
        [](PluginEntry& entry, CvError* err) { return CallUnloadEntryPoint(entry, err); },
        [](Lock& held, PluginEntry& entry) {
            // Taken out of the table and unmapped under the mutex.
            std::unique_ptr<PluginEntry> removed = g_registry->entries(held).remove(entry.uid);
            LibraryUnload(removed->library);
            return removed;
        });
    if (unloaded == nullptr) return 0;  // the plug-in refused and stays loaded, or the UID was wrong
    LogUnloaded(unloaded->uid, unloaded->descriptor.info.name);
    return CvSetNoThreadError(error);
}
