// Reading the simulator's settings: lists and pieces are cut with the core's
// splitting helpers, values are checked by the simulator's description parser.
#include "farm_settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <string_view>

#include <corvane.h>

#include "simdrive/text_fields.h"

namespace cvpl_simdrive {

namespace {

constexpr std::string_view kDrivesKey = "Drives";
constexpr std::string_view kStateDirKey = "StateDir";
constexpr std::string_view kDrivePrefix = "Drive.";
constexpr std::string_view kPathsPrefix = "Paths.";
constexpr std::string_view kFaultPrefix = "fault.";
constexpr std::size_t kMaxNameLength = 64;

using simdrive::toLower;
using simdrive::trimBlanks;

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return toLower(a) == toLower(b);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

// The pieces between separators, as the core's splitter yields them.
std::vector<std::string> splitList(const char* text, char separator) {
    std::unique_ptr<ArrayList, void (*)(ArrayList*)> list(ArrayList_Create(), CvUtil_DestroyListAndData);
    std::vector<std::string> pieces;
    if (!list || text == nullptr) return pieces;
    CvUtil_SplitStringIntoList(text, separator, list.get());
    for (int32_t i = 0; i < ArrayList_GetSize(list.get()); ++i) {
        pieces.emplace_back(static_cast<const char*>(ArrayList_Get(list.get(), i)));
    }
    return pieces;
}

// "key=value; key=value" into entries; blank pieces are skipped.
bool splitEntries(const char* text, DescriptionEntries& entries, std::string& problem) {
    for (const std::string& raw : splitList(text, ';')) {
        std::string_view piece = trimBlanks(raw);
        if (piece.empty()) continue;
        std::size_t equals = piece.find('=');
        std::string key(trimBlanks(piece.substr(0, std::min(equals, piece.size()))));
        if (equals == std::string_view::npos || key.empty()) {
            return fail(problem, "'" + std::string(piece) + "': expected key=value");
        }
        bool repeated = std::any_of(entries.begin(), entries.end(),
                                    [&](const auto& entry) { return equalIgnoringCase(entry.first, key); });
        if (repeated) return fail(problem, "key '" + toLower(key) + "': given more than once");
        entries.emplace_back(std::move(key), std::string(trimBlanks(piece.substr(equals + 1))));
    }
    return true;
}

bool describe(const DescriptionEntries& entries, simdrive::DriveDescription& description, std::string& problem) {
    std::unique_ptr<StringMap, void (*)(StringMap*)> map(StringMap_Create(), StringMap_Destroy);
    if (!map) return fail(problem, "out of memory");
    for (const auto& [key, value] : entries) StringMap_SetValue(map.get(), key.c_str(), value.c_str());
    simdrive::DescriptionError descriptionError;
    if (!simdrive::parseDriveDescription(map.get(), description, descriptionError)) {
        return fail(problem, descriptionError.message());
    }
    return true;
}

bool validName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
}

bool readDriveNames(const StringMap* settings, std::vector<std::string>& names, std::string& error) {
    const char* list = StringMap_GetString(settings, kDrivesKey.data(), nullptr);
    for (const std::string& raw : splitList(list, ',')) {
        std::string name(trimBlanks(raw));
        if (name.empty()) continue;
        if (!validName(name)) {
            return fail(error, "Setting 'Drives': drive name '" + name +
                                   "' must be 1 to 64 letters, digits, '-', '_' or '.'");
        }
        bool repeated = std::any_of(names.begin(), names.end(),
                                    [&](const std::string& other) { return equalIgnoringCase(other, name); });
        if (repeated) return fail(error, "Setting 'Drives': drive '" + name + "' is listed twice");
        names.push_back(std::move(name));
    }
    return true;
}

bool readPaths(const StringMap* settings, DriveSettings& drive, std::string& error) {
    std::string key = std::string(kPathsPrefix) + drive.name;
    const char* text = StringMap_GetString(settings, key.c_str(), nullptr);
    if (text == nullptr) return true;
    std::string_view value = trimBlanks(text);
    uint32_t paths = 0;
    auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), paths);
    if (status != std::errc() || end != value.data() + value.size() || paths < 1 || paths > kMaxPathsPerDrive) {
        return fail(error, "Setting '" + key + "': not a number from 1 to " + std::to_string(kMaxPathsPerDrive) +
                               ": '" + std::string(value) + "'");
    }
    drive.paths = paths;
    return true;
}

bool readDrive(const StringMap* settings, DriveSettings& drive, std::string& error) {
    std::string key = std::string(kDrivePrefix) + drive.name;
    const char* text = StringMap_GetString(settings, key.c_str(), nullptr);
    if (text == nullptr) return fail(error, "Setting '" + key + "' is missing");
    std::string problem;
    if (!splitEntries(text, drive.entries, problem) || !describe(drive.entries, drive.description, problem)) {
        return fail(error, "Setting '" + key + "': " + problem);
    }
    return readPaths(settings, drive, error);
}

// Two drives of one kind with one serial would share a state file, and hosts
// would take them for one drive.
bool checkSerials(const std::vector<DriveSettings>& drives, std::string& error) {
    for (std::size_t i = 0; i < drives.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const auto& a = drives[j].description;
            const auto& b = drives[i].description;
            if (a.kind == b.kind && a.serial == b.serial) {
                return fail(error, "Setting 'Drive." + drives[i].name + "': serial '" + b.serial +
                                       "' is already used by drive '" + drives[j].name + "'");
            }
        }
    }
    return true;
}

// Every key must be one of ours, and per-drive keys must name a listed drive.
bool checkKeys(const StringMap* settings, const std::vector<std::string>& names, std::string& error) {
    auto listed = [&](std::string_view name) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return equalIgnoringCase(n, name); });
    };
    for (int32_t i = 0; i < StringMap_GetSize(settings); ++i) {
        std::string_view key = StringMap_GetEntryKey(settings, i);
        if (equalIgnoringCase(key, kDrivesKey) || equalIgnoringCase(key, kStateDirKey)) continue;
        std::string_view prefix = startsWithIgnoringCase(key, kDrivePrefix)   ? kDrivePrefix
                                  : startsWithIgnoringCase(key, kPathsPrefix) ? kPathsPrefix
                                                                              : std::string_view();
        if (prefix.empty()) return fail(error, "Unknown setting '" + std::string(key) + "'");
        if (!listed(key.substr(prefix.size()))) {
            return fail(error, "Setting '" + std::string(key) + "' names a drive that 'Drives' does not list");
        }
    }
    return true;
}

}  // namespace

bool parseFarmSettings(const StringMap* settings, FarmSettings& farm, std::string& error) {
    FarmSettings parsed;
    if (settings == nullptr) {
        farm = std::move(parsed);
        return true;
    }
    std::vector<std::string> names;
    if (!readDriveNames(settings, names, error) || !checkKeys(settings, names, error)) return false;
    for (const std::string& name : names) {
        DriveSettings drive;
        drive.name = name;
        if (!readDrive(settings, drive, error)) return false;
        parsed.drives.push_back(std::move(drive));
    }
    if (!checkSerials(parsed.drives, error)) return false;
    parsed.stateDirectory = trimBlanks(StringMap_GetString(settings, kStateDirKey.data(), ""));
    farm = std::move(parsed);
    return true;
}

bool parseFaultPlan(const DriveSettings& drive, const char* text, simdrive::FaultPlan& faults, std::string& error) {
    DescriptionEntries changes;
    if (!splitEntries(text == nullptr ? "" : text, changes, error)) return false;
    DescriptionEntries entries;
    for (const auto& entry : drive.entries) {
        if (!startsWithIgnoringCase(entry.first, kFaultPrefix)) entries.push_back(entry);
    }
    for (const auto& change : changes) {
        if (!startsWithIgnoringCase(change.first, kFaultPrefix)) {
            return fail(error, "key '" + toLower(change.first) + "': not a fault");
        }
        entries.push_back(change);
    }
    simdrive::DriveDescription description;
    if (!describe(entries, description, error)) return false;
    faults = description.faults;
    return true;
}

}  // namespace cvpl_simdrive
