// Reading a controller farm: the drive keys go through the drive simulator
// plug-in's own reader, so both farms take the same descriptions.
#include "controller_farm.h"

#include <memory>

#include "farm_settings.h"
#include "simdrive/state_store.h"
#include "simdrive/text_fields.h"

namespace simdrive {

bool ControllerFarm::load(const std::string& path, std::string& error) {
    std::unique_ptr<StringMap, void (*)(StringMap*)> settings(StringMap_Create(), StringMap_Destroy);
    char message[256] = {};
    if (!settings || StringMap_AddFromPropertiesFile(settings.get(), path.c_str(), message, sizeof message) < 0) {
        error = "cannot read '" + path + "': " + message;
        return false;
    }
    if (!load(settings.get(), error)) {
        error = "'" + path + "': " + error;
        return false;
    }
    return true;
}

bool ControllerFarm::load(const StringMap* settings, std::string& error) {
    // The drive simulator's reader takes its own keys only; the controllers'
    // keys stay for the simulations to read.
    std::unique_ptr<StringMap, void (*)(StringMap*)> driveKeys(StringMap_Create(), StringMap_Destroy);
    for (int32_t i = 0; i < StringMap_GetSize(settings); ++i) {
        const std::string key = toLower(StringMap_GetEntryKey(settings, i));
        if (key == "drives" || key == "statedir" || key.rfind("drive.", 0) == 0 || key.rfind("paths.", 0) == 0)
            StringMap_SetValue(driveKeys.get(), StringMap_GetEntryKey(settings, i), StringMap_GetEntryValue(settings, i));
    }
    cvpl_simdrive::FarmSettings farm;
    if (!cvpl_simdrive::parseFarmSettings(driveKeys.get(), farm, error)) return false;
    std::shared_ptr<const StateStore> store;
    if (!farm.stateDirectory.empty()) store = std::make_shared<const StateStore>(farm.stateDirectory);
    for (const cvpl_simdrive::DriveSettings& settingsOfDrive : farm.drives) {
        std::string problem;
        std::shared_ptr<SimDrive> built = createDrive(settingsOfDrive.description, store, problem);
        if (!built) {
            error = "drive '" + settingsOfDrive.name + "': " + problem;
            return false;
        }
        drives_[toLower(settingsOfDrive.name)] = std::move(built);
    }
    for (int32_t i = 0; i < StringMap_GetSize(settings); ++i)
        values_[toLower(StringMap_GetEntryKey(settings, i))] = StringMap_GetEntryValue(settings, i);
    return true;
}

std::shared_ptr<SimDrive> ControllerFarm::drive(const std::string& name) const {
    const auto found = drives_.find(toLower(name));
    return found == drives_.end() ? nullptr : found->second;
}

std::string ControllerFarm::value(const std::string& key) const {
    const auto found = values_.find(toLower(key));
    return found == values_.end() ? std::string() : found->second;
}

std::vector<std::string> ControllerFarm::list(const std::string& key) const {
    std::vector<std::string> pieces;
    const std::string text = value(key);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view piece = trimBlanks(std::string_view(text).substr(start, end - start));
        if (!piece.empty()) pieces.emplace_back(piece);
        start = end + 1;
    }
    return pieces;
}

}  // namespace simdrive
