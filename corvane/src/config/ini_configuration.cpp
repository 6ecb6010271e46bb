// Configuration from an INI file: the "Corvane" section lists plug-ins to load,
// machines to create and connect, and servers to start; each entry's own
// section (named like it, ignoring case) is handed over as its settings.
#include <corvane.h>

#include <strings.h>

#include <memory>

namespace {

constexpr const char* kControlSection = "Corvane";

// The first section whose name equals `name` ignoring case: true and its map
// (which may be null) in *map; false when there is none.
bool FindSection(const ArrayList* names, const ArrayList* maps, const char* name, StringMap** map)
{
    const int32_t count = ArrayList_GetSize(names);
    for (int32_t i = 0; i < count; ++i) {
        const auto* sectionName = static_cast<const char*>(ArrayList_Get(names, i));
        if (sectionName != nullptr && strcasecmp(sectionName, name) == 0) {
            *map = static_cast<StringMap*>(ArrayList_Get(maps, i));
            return true;
        }
    }
    return false;
}

// Settings of one entry: its section's map, or null without a section.
StringMap* SettingsFor(const ArrayList* names, const ArrayList* maps, const char* entry)
{
    StringMap* map = nullptr;
    return FindSection(names, maps, entry, &map) ? map : nullptr;
}

struct EntryListDeleter {
    void operator()(ArrayList* list) const { CvUtil_DestroyListAndData(list); }
};
using EntryList = std::unique_ptr<ArrayList, EntryListDeleter>;

// What one step does with one entry of its list; 1, or 0 with the error filled.
using EntryAction = int (*)(const char* entry, StringMap* settings, CvError* error);

// Splits the value of `key` in the control section at commas and runs `action`
// on every entry in order, stopping at the first failure.
int ConfigureStep(const ArrayList* names, const ArrayList* maps, const char* key, EntryAction action,
                  CvError* error)
{
    StringMap* control = nullptr;
    if (!FindSection(names, maps, kControlSection, &control) || control == nullptr) return CvSetNoThreadError(error);
    const char* value = StringMap_GetValue(control, key);
    if (value == nullptr) return CvSetNoThreadError(error);

    const EntryList entries(ArrayList_Create());
    if (entries == nullptr) return CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory");
    CvUtil_SplitStringIntoList(value, ',', entries.get());
    const int32_t count = ArrayList_GetSize(entries.get());
    for (int32_t i = 0; i < count; ++i) {
        const auto* entry = static_cast<const char*>(ArrayList_Get(entries.get(), i));
        if (action(entry, SettingsFor(names, maps, entry), error) == 0) return 0;
    }
    return CvSetNoThreadError(error);
}

int LoadPlugin(const char* name, StringMap* settings, CvError* error)
{
    CvUID plugin = CV_UID_NONE;
    return CvPluginManager_Load(name, settings, &plugin, error);
}

int CreateAndConnectMachine(const char* url, StringMap* settings, CvError* error)
{
    CvUID machine = CV_UID_NONE;
    if (CvMachineManager_CreateMachine(url, &machine, error) == 0) return 0;
    return CvMachine_Connect(machine, settings, error);
}

int StartServer(const char* protocol, StringMap* settings, CvError* error)
{
    CvUID server = CV_UID_NONE;
    if (CvServerManager_LookupServer(protocol, &server, error) == 0) return 0;
    if (server == CV_UID_NONE)
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT,
                                "Unable to find server for protocol '%s' in order to start it", protocol);
    return CvServer_Start(server, settings, error);
}

// Section names and maps as the parser made them; freed on every path.
class ParsedFile {
public:
    ParsedFile() : names_(ArrayList_Create()), maps_(ArrayList_Create()) {}
    ~ParsedFile()
    {
        CvUtil_DestroyListAndData(names_);
        for (int32_t i = 0; i < ArrayList_GetSize(maps_); ++i)
            StringMap_Destroy(static_cast<StringMap*>(ArrayList_Get(maps_, i)));
        ArrayList_Destroy(maps_);
    }
    ParsedFile(const ParsedFile&) = delete;
    ParsedFile& operator=(const ParsedFile&) = delete;

    bool created() const { return names_ != nullptr && maps_ != nullptr; }
    ArrayList* names() const { return names_; }
    ArrayList* maps() const { return maps_; }

private:
    ArrayList* names_;
    ArrayList* maps_;
};

}  // namespace

int CvHelper_ConfigurePluginsUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                              CvError* error)
{
    return ConfigureStep(sectionNames, sectionMaps, "Plugins", LoadPlugin, error);
}

int CvHelper_ConfigureConnectionsUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                                  CvError* error)
{
    return ConfigureStep(sectionNames, sectionMaps, "Connections", CreateAndConnectMachine, error);
}

int CvHelper_ConfigureServersUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                              CvError* error)
{
    return ConfigureStep(sectionNames, sectionMaps, "Servers", StartServer, error);
}

int CvHelper_ConfigureUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps, CvError* error)
{
    // Plug-ins first: they register the bridges and servers the later steps use.
    return CvHelper_ConfigurePluginsUsingINISettings(sectionNames, sectionMaps, error) != 0 &&
                   CvHelper_ConfigureConnectionsUsingINISettings(sectionNames, sectionMaps, error) != 0 &&
                   CvHelper_ConfigureServersUsingINISettings(sectionNames, sectionMaps, error) != 0
               ? 1
               : 0;
}

int CvHelper_ConfigureUsingINIFile(const char* path, CvError* error)
{
    const ParsedFile file;
    if (!file.created()) return CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory");
    if (CvUtil_ParseINI(path, file.names(), file.maps(), error) == 0) {
        if (error != nullptr) error->code = CV_ERROR_FAILED;  // the parser's message stays
        return 0;
    }
    return CvHelper_ConfigureUsingINISettings(file.names(), file.maps(), error);
}
