// Reading the stand-in's farm file: the entries of one library's family, the
// drives built by the drive simulator.
#include "storelib_farm.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include <cvcrt.h>

#include "simdrive/text_fields.h"

namespace simdrive::storelib {

namespace {

struct FamilyName {
    const char* name;
    uint32_t libraryIndex;
};
constexpr FamilyName kFamilies[] = {{"megaraid", 0}, {"sas1", 1}, {"sas2", 2}, {"sas3", 4}};
constexpr uint32_t kMaxControllerNumber = 0xFFFFFF;
constexpr std::size_t kOtherFamily = SIZE_MAX;

std::optional<uint32_t> familyIndex(std::string_view name) {
    std::string lower = toLower(trimBlanks(name));
    for (const FamilyName& family : kFamilies) {
        if (lower == family.name) return family.libraryIndex;
    }
    return std::nullopt;
}

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

// "key=value; key=value" into a map by lower-case key.
bool splitPieces(std::string_view text, std::map<std::string, std::string>& pieces, std::string& problem) {
    while (!text.empty()) {
        std::size_t end = text.find(';');
        std::string_view piece = trimBlanks(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (piece.empty()) continue;
        std::size_t equals = piece.find('=');
        if (equals == std::string_view::npos) return fail(problem, "'" + std::string(piece) + "': expected key=value");
        std::string key = toLower(trimBlanks(piece.substr(0, equals)));
        if (!pieces.emplace(key, std::string(trimBlanks(piece.substr(equals + 1)))).second) {
            return fail(problem, "key '" + key + "' given more than once");
        }
    }
    return true;
}

// Removes a numeric piece; fallback when absent.
bool takeNumber(std::map<std::string, std::string>& pieces, const char* key, uint64_t max, uint64_t fallback,
                uint64_t& value, std::string& problem) {
    auto found = pieces.find(key);
    if (found == pieces.end()) {
        value = fallback;
        return true;
    }
    auto parsed = parseUnsigned(found->second, max);
    if (!parsed) return fail(problem, std::string("key '") + key + "': not a number up to " + std::to_string(max));
    value = *parsed;
    pieces.erase(found);
    return true;
}

bool readController(std::string_view text, uint32_t libraryIndex, std::optional<FarmController>& controller,
                    std::string& problem) {
    std::map<std::string, std::string> pieces;
    if (!splitPieces(text, pieces, problem)) return false;
    auto family = familyIndex(pieces["family"]);
    if (!family) return fail(problem, "key 'family': not megaraid, sas1, sas2 or sas3");
    uint64_t number = 0;
    if (!takeNumber(pieces, "number", kMaxControllerNumber, 0, number, problem)) return false;
    if (*family != libraryIndex) return true;
    FarmController made;
    made.id = libraryIndex << 24 | static_cast<uint32_t>(number);
    made.location = pieces.count("location") ? pieces["location"] : std::to_string(number);
    controller = std::move(made);
    return true;
}

bool readDrive(std::string_view text, const std::shared_ptr<const StateStore>& store, FarmDrive& drive,
               std::string& problem) {
    std::map<std::string, std::string> pieces;
    if (!splitPieces(text, pieces, problem)) return false;
    pieces.erase("controller");
    uint64_t deviceId = 0, slot = 0, type = 0, interfaceClass = 0;
    std::string kind = toLower(pieces.count("kind") ? pieces["kind"] : "");
    uint64_t defaultClass = kind == "ata" ? 3 : kind == "scsi" ? 2 : 0;
    if (!takeNumber(pieces, "device_id", 0xFFFF, 0, deviceId, problem) ||
        !takeNumber(pieces, "slot", 0xFF, 0, slot, problem) || !takeNumber(pieces, "type", 0xFF, 0, type, problem) ||
        !takeNumber(pieces, "interface", 15, defaultClass, interfaceClass, problem)) {
        return false;
    }
    drive.deviceId = static_cast<uint16_t>(deviceId);
    drive.slot = static_cast<uint8_t>(slot);
    drive.deviceType = static_cast<uint8_t>(type);
    drive.interfaceClass = static_cast<uint8_t>(interfaceClass);
    if (kind.empty()) return pieces.empty() || fail(problem, "drive keys without 'kind'");
    std::string description;
    for (const auto& [key, value] : pieces) description += key + "=" + value + ";";
    DriveDescription parsed;
    DescriptionError descriptionError;
    if (!parseDriveDescriptionText(description, parsed, descriptionError)) {
        return fail(problem, descriptionError.message());
    }
    drive.drive = createDrive(parsed, store, problem);
    return drive.drive != nullptr;
}

// Whether a comma-separated list of family names names this library's family.
bool familyListed(std::string_view list, uint32_t libraryIndex) {
    while (true) {
        std::size_t end = list.find(',');
        if (familyIndex(list.substr(0, end)) == libraryIndex) return true;
        if (end == std::string_view::npos) return false;
        list.remove_prefix(end + 1);
    }
}

struct MapDeleter {
    void operator()(StringMap* map) const { StringMap_Destroy(map); }
};

std::string farmPath() {
    const char* named = std::getenv(kFarmVariable);
    if (named != nullptr && *named != '\0') return named;
    return std::filesystem::exists(kDefaultFarmFile) ? kDefaultFarmFile : "";
}

}  // namespace

bool loadFarm(uint32_t libraryIndex, Farm& farm, std::string& error) {
    farm = Farm{};
    std::string path = farmPath();
    if (path.empty()) return true;
    std::unique_ptr<StringMap, MapDeleter> map(StringMap_Create());
    char message[256] = {};
    if (!map || StringMap_AddFromPropertiesFile(map.get(), path.c_str(), message, sizeof message) != 0) {
        return fail(error, path + ": " + message);
    }
    farm.initializeFails = familyListed(StringMap_GetString(map.get(), "FailInitialize", ""), libraryIndex);
    std::string stateDir(trimBlanks(StringMap_GetString(map.get(), "StateDir", "")));
    std::shared_ptr<const StateStore> store;
    if (!stateDir.empty()) store = std::make_shared<const StateStore>(stateDir);

    std::map<std::string, std::size_t> controllerByName;
    for (int32_t i = 0; i < StringMap_GetSize(map.get()); ++i) {
        std::string key = toLower(StringMap_GetEntryKey(map.get(), i));
        if (key.rfind("controller.", 0) != 0) continue;
        std::optional<FarmController> controller;
        std::string problem;
        if (!readController(StringMap_GetEntryValue(map.get(), i), libraryIndex, controller, problem)) {
            return fail(error, path + ": setting '" + key + "': " + problem);
        }
        // Controllers of other families are known by name, and have no index here.
        controllerByName[key.substr(11)] = controller ? farm.controllers.size() : kOtherFamily;
        if (controller) farm.controllers.push_back(std::move(*controller));
    }
    for (int32_t i = 0; i < StringMap_GetSize(map.get()); ++i) {
        std::string key = toLower(StringMap_GetEntryKey(map.get(), i));
        if (key.rfind("drive.", 0) != 0) {
            if (key.rfind("controller.", 0) == 0 || key == "statedir" || key == "failinitialize") continue;
            return fail(error, path + ": unknown setting '" + key + "'");
        }
        FarmDrive drive;
        std::string problem;
        std::string_view text = StringMap_GetEntryValue(map.get(), i);
        // Drives of other families are built by their own library.
        std::map<std::string, std::string> pieces;
        if (!splitPieces(text, pieces, problem)) return fail(error, path + ": setting '" + key + "': " + problem);
        auto owner = controllerByName.find(toLower(pieces["controller"]));
        if (owner == controllerByName.end()) {
            return fail(error, path + ": setting '" + key + "': no controller '" + pieces["controller"] + "'");
        }
        if (owner->second == kOtherFamily) continue;
        if (!readDrive(text, store, drive, problem)) {
            return fail(error, path + ": setting '" + key + "': " + problem);
        }
        auto& drives = farm.controllers[owner->second].drives;
        bool taken = std::any_of(drives.begin(), drives.end(),
                                 [&](const FarmDrive& other) { return other.deviceId == drive.deviceId; });
        if (taken) return fail(error, path + ": setting '" + key + "': device ID already used on its controller");
        drives.push_back(std::move(drive));
    }
    for (FarmController& controller : farm.controllers) {
        std::sort(controller.drives.begin(), controller.drives.end(),
                  [](const FarmDrive& a, const FarmDrive& b) { return a.slot < b.slot; });
    }
    std::sort(farm.controllers.begin(), farm.controllers.end(),
              [](const FarmController& a, const FarmController& b) { return a.id < b.id; });
    return true;
}

}  // namespace simdrive::storelib
